#include "shell/settings_page.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ops/settings.h"
#include "ops/watch.h"
#include "shell/palette.h"
#include "shell/panel_buttons.h"
#include "shell/panel_decorations.h"
#include "shell/panel_page.h"
#include "shell/panel_style.h"
#include "shell/panel_toggles.h"

namespace sweepkin {

namespace {

constexpr qint64 kGB = 1'000'000'000;
const QList<qint64> kNotifyBytes{0, 1 * kGB, 2 * kGB, 5 * kGB, 10 * kGB, 20 * kGB};
const QList<qint64> kAutoCleanDays(std::begin(kAutoCleanChoices), std::end(kAutoCleanChoices));

// The last choice not above `value`.
int choiceFor(const QList<qint64>& choices, qint64 value) {
    int index = 0;
    for (int i = 0; i < choices.size(); ++i) {
        if (choices[i] <= value) index = i;
    }
    return index;
}

QLabel* addLabel(QVBoxLayout* column, const QString& text, const QFont& font, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    column->addWidget(label);
    return label;
}

QVBoxLayout* cardColumn(Card* card) {
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(8);
    return column;
}

}  // namespace

SettingsPage::SettingsPage(SettingsStore& settings, QWidget* parent)
    : QWidget(parent), settings_(settings) {
    QVBoxLayout* page = subPageLayout(this, QStringLiteral("Settings"), back_, title_);
    connect(back_, &QAbstractButton::clicked, this, &SettingsPage::backRequested);

    watchCard_ = new Card(this);
    QVBoxLayout* watchColumn = cardColumn(watchCard_);
    watch_ = new SwitchToggle(QStringLiteral("Watch cache sizes"), watchCard_);
    connect(watch_, &SwitchToggle::flipRequested, this, [this](bool on) {
        settings_.setBool(keys::disableWatch, !on);
        refresh();
    });
    watchColumn->addWidget(watch_, 0, Qt::AlignLeft);
    notes_ << addLabel(watchColumn,
                       QStringLiteral("Measures quietly every 6 hours, never on battery, and "
                                      "shows the total in the tray icon's tooltip."),
                       caption2Font(), watchCard_);
    headings_ << addLabel(watchColumn, QStringLiteral("Notify when caches exceed"), captionFont(),
                          watchCard_);
    notify_ = new SegmentedChoice(QStringLiteral("Notify when caches exceed"),
                                  {"Off", "1 GB", "2 GB", "5 GB", "10 GB", "20 GB"}, watchCard_);
    connect(notify_, &SegmentedChoice::picked, this,
            [this](int i) { settings_.setInt(keys::notifyBytes, kNotifyBytes[i]); });
    watchColumn->addWidget(notify_);
    page->addWidget(watchCard_);

    cleanCard_ = new Card(this);
    QVBoxLayout* cleanColumn = cardColumn(cleanCard_);
    headings_ << addLabel(cleanColumn, QStringLiteral("Clean automatically"), captionFont(),
                          cleanCard_);
    autoClean_ = new SegmentedChoice(QStringLiteral("Clean automatically"),
                                     {"Off", "Weekly", "Monthly"}, cleanCard_);
    connect(autoClean_, &SegmentedChoice::picked, this, [this](int i) {
        settings_.setInt(keys::autoCleanDays, kAutoCleanDays[i]);
        refresh();
    });
    cleanColumn->addWidget(autoClean_);
    scheduleNote_ = addLabel(cleanColumn, QString(), caption2Font(QFont::DemiBold), cleanCard_);
    headings_ << scheduleNote_;
    notes_ << addLabel(cleanColumn,
                       QStringLiteral("Cleans only the rows you left ticked in this panel. Apps "
                                      "that are open are skipped, never closed."),
                       caption2Font(), cleanCard_);
    page->addWidget(cleanCard_);
    page->addStretch(1);

    applyAppearance();
    refresh();
}

void SettingsPage::refresh() {
    watch_->setOn(!watchDisabled(settings_));
    notify_->setCurrent(choiceFor(
        kNotifyBytes, settings_.optionalInt(keys::notifyBytes).value_or(kDefaultNotifyBytes)));
    autoClean_->setCurrent(static_cast<int>(kAutoCleanDays.indexOf(autoCleanDays(settings_))));
    const QString note = scheduledCleanNote(settings_, QDateTime::currentDateTime());
    scheduleNote_->setText(note);
    scheduleNote_->setVisible(!note.isEmpty());
}

QSize SettingsPage::sizeHint() const {
    return QSize(kPanelWidth, layout()->totalHeightForWidth(kPanelWidth));
}

void SettingsPage::applyAppearance() {
    const bool dark = isDarkAppearance();
    setTextColor(title_, Palette::ink.resolve(dark));
    for (QLabel* label : std::as_const(headings_)) setTextColor(label, Palette::ink.resolve(dark));
    for (QLabel* label : std::as_const(notes_)) setTextColor(label, secondaryTextColor(dark));
    update();
}

void SettingsPage::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ThemeChange ||
        event->type() == QEvent::ApplicationPaletteChange) {
        applyAppearance();
    }
    QWidget::changeEvent(event);
}

void SettingsPage::paintEvent(QPaintEvent*) {
    paintPanelPage(this, {watchCard_, cleanCard_});
}

}  // namespace sweepkin
