#include "shell/popover_view.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QSaveFile>
#include <QVBoxLayout>

#include "ops/size_text.h"
#include "shell/palette.h"
#include "shell/panel_buttons.h"
#include "shell/panel_decorations.h"
#include "shell/panel_page.h"
#include "shell/panel_style.h"
#include "shell/panel_toggles.h"
#include "shell/row_list.h"
#include "shell/test_dump.h"

namespace sweepkin {

PopoverView::PopoverView(UIModel* model, AppActions actions, const QString& appVersion,
                         const std::vector<AppTarget>& targets, QWidget* parent)
    : QWidget(parent), model_(model), actions_(std::move(actions)), appVersion_(appVersion) {
    setFixedWidth(kPanelWidth);
    setAutoFillBackground(false);

    auto* panel = new QVBoxLayout(this);
    panel->setContentsMargins(14, 14, 14, 14);
    panel->setSpacing(12);
    panel->addWidget(makeHeader());
    rowList_ = new RowList(model_, rowIconNames(targets), this);
    panel->addWidget(rowList_);
    panel->addLayout(makeActions());
    panel->addWidget(new Divider(this));
    panel->addLayout(makeFooterButtons());
    panel->addLayout(makeFooterLines());

    connect(model_, &UIModel::objectWillChange, this, &PopoverView::scheduleRefresh);
    applyAppearance();
    refresh();
}

Card* PopoverView::makeHeader() {
    // The icon, then the title with its badge, the headline and the free space.
    headerCard_ = new Card(this);
    auto* headerRow = new QHBoxLayout(headerCard_);
    headerRow->setContentsMargins(12, 12, 12, 12);
    headerRow->setSpacing(12);
    headerRow->addWidget(new HeaderIcon(headerCard_), 0, Qt::AlignVCenter);
    auto* headerText = new QVBoxLayout;
    headerText->setSpacing(1);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    titleLabel_ = makeLabel(caption2Font(QFont::DemiBold), headerCard_);
    titleLabel_->setText(QStringLiteral("Sweepkin"));
    titleRow->addWidget(titleLabel_, 0, Qt::AlignVCenter);
    titleRow->addWidget(new BetaBadge(headerCard_), 0, Qt::AlignVCenter);
    titleRow->addStretch(1);
    headerText->addLayout(titleRow);
    headline_ = makeLabel(title3Font(), headerCard_);
    // Never wider than the card: a long total shrinks the font a little instead (fitHeadline).
    headline_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    headerText->addWidget(headline_);
    freeDisk_ = makeLabel(captionFont(), headerCard_);
    headerText->addWidget(freeDisk_);
    settingsProblem_ = makeLabel(caption2Font(QFont::DemiBold), headerCard_);
    settingsProblem_->setWordWrap(true);
    settingsProblem_->hide();
    headerText->addWidget(settingsProblem_);
    headerRow->addLayout(headerText, 1);
    return headerCard_;
}

QLayout* PopoverView::makeActions() {
    // The clean button and the safety note under it.
    auto* actionColumn = new QVBoxLayout;
    actionColumn->setSpacing(6);
    cleanButton_ = new CleanButton(this);
    connect(cleanButton_, &QAbstractButton::clicked, this, [this] {
        if (actions_.clean) actions_.clean();
    });
    actionColumn->addWidget(cleanButton_);
    safetyNote_ = makeLabel(caption2Font(), this);
    safetyNote_->setWordWrap(true);
    safetyNote_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    safetyNote_->setText(QStringLiteral(
        "Only cache folders are deleted — logins, history and bookmarks are never touched. "
        "Apps being cleaned are closed first."));
    actionColumn->addWidget(safetyNote_);
    return actionColumn;
}

QLayout* PopoverView::makeFooterButtons() {
    // The login switch and the icon buttons, Quit last.
    auto* footerRow = new QHBoxLayout;
    footerRow->setSpacing(4);
    loginSwitch_ = new SwitchToggle(QStringLiteral("Open at Login"), this);
    connect(loginSwitch_, &SwitchToggle::flipRequested, this, [this](bool on) {
        if (actions_.setLogin) actions_.setLogin(on);
    });
    footerRow->addWidget(loginSwitch_, 0, Qt::AlignVCenter);
    footerRow->addStretch(1);
    historyButton_ = new IconButton(IconButton::Glyph::Chart, QStringLiteral("History"), this);
    connect(historyButton_, &QAbstractButton::clicked, this, &PopoverView::historyRequested);
    footerRow->addWidget(historyButton_);
    settingsButton_ = new IconButton(IconButton::Glyph::Gear, QStringLiteral("Settings"), this);
    connect(settingsButton_, &QAbstractButton::clicked, this, &PopoverView::settingsRequested);
    footerRow->addWidget(settingsButton_);
    reportButton_ =
        new IconButton(IconButton::Glyph::Report, QStringLiteral("Show last cleanup report"), this);
    connect(reportButton_, &QAbstractButton::clicked, this, [this] {
        if (actions_.showReport) actions_.showReport();
    });
    footerRow->addWidget(reportButton_);
    quitButton_ = new IconButton(IconButton::Glyph::Power, QStringLiteral("Quit Sweepkin"), this);
    connect(quitButton_, &QAbstractButton::clicked, this, [this] {
        if (actions_.quit) actions_.quit();
    });
    footerRow->addWidget(quitButton_);
    return footerRow;
}

QLayout* PopoverView::makeFooterLines() {
    auto* footerLines = new QVBoxLayout;
    footerLines->setSpacing(2);
    versionLine_ = makeLabel(caption2Font(), this);
    footerLines->addWidget(versionLine_);
    copyright_ = makeLabel(systemFont(7.5), this);
    copyright_->setText(QStringLiteral("© 2026 The Sweepkin developers"));
    footerLines->addWidget(copyright_);
    return footerLines;
}

void PopoverView::scheduleRefresh() {
    // The model announces a write before it happens; read it once the current turn is over.
    if (refreshPending_) return;
    refreshPending_ = true;
    QMetaObject::invokeMethod(this, &PopoverView::refresh, Qt::QueuedConnection);
}

void PopoverView::refresh() {
    refreshPending_ = false;
    const bool cleaning = model_->cleaning();

    headline_->setText(model_->scanning()
                           ? QStringLiteral("Measuring caches…")
                           : sizeText(model_->totalBytes()) + QStringLiteral(" of caches found"));
    fitHeadline();
    freeDisk_->setText(QStringLiteral("Free disk: ") + model_->freeDiskText());
    settingsProblem_->setText(model_->settingsProblem());
    settingsProblem_->setVisible(!model_->settingsProblem().isEmpty());

    rowList_->refresh(cleanButton_);

    const qint64 selectedBytes = model_->selectedBytes();
    cleanButton_->setText(cleaning ? QStringLiteral("Cleaning…")
                                   : QStringLiteral("Clean Selected (") + sizeText(selectedBytes) +
                                         QStringLiteral(")"));
    cleanButton_->setEnabled(!cleaning && !model_->selectedRows().isEmpty() && selectedBytes != 0);
    cleanButton_->updateGeometry();

    loginSwitch_->setOn(model_->loginOn());
    versionLine_->setText(QStringLiteral("Beta ") + appVersion_ +
                          QStringLiteral(" · Last clean: ") + model_->lastCleanText());

    layout()->invalidate();
    for (QWidget* w : std::initializer_list<QWidget*>{headline_, headerCard_}) w->updateGeometry();
    layout()->activate();
    update();
    emit contentChanged();
    writeTestDump();
}

void PopoverView::fitHeadline() {
    // Room beside the icon: the panel and card margins, the icon and the gap after it.
    constexpr int kRoom = kPanelWidth - 2 * 14 - 2 * 12 - 46 - 12;
    QFont font = title3Font();
    const qreal smallest = font.pointSizeF() * 0.75;
    while (QFontMetrics(font).horizontalAdvance(headline_->text()) > kRoom &&
           font.pointSizeF() > smallest) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
    }
    headline_->setFont(font);
}

void PopoverView::selectAll() {
    rowList_->selectAll();
}

void PopoverView::resizeList(int limit) {
    rowList_->limitHeight(limit);
    layout()->invalidate();
    layout()->activate();
}

void PopoverView::fitHeight(int height) {
    resizeList(QWIDGETSIZE_MAX);
    const int over = sizeHint().height() - height;
    // At least a few rows stay visible, whatever the screen.
    if (over > 0) resizeList(std::max(rowList_->rowsHeight() - over, 3 * 24));
}

QSize PopoverView::sizeHint() const {
    QLayout* l = layout();
    if (!l) return QSize(kPanelWidth, 200);
    const int height =
        l->hasHeightForWidth() ? l->totalHeightForWidth(kPanelWidth) : l->totalSizeHint().height();
    return QSize(kPanelWidth, height);
}

QStringList PopoverView::rowsInView() const {
    return rowList_->rowsInView();
}

TextButton* PopoverView::selectAllButton() const {
    return rowList_->selectAllButton();
}

QVector<TickRow*> PopoverView::tickRows() const {
    return rowList_->tickRows();
}

QStringList PopoverView::visibleTexts() const {
    QStringList texts{titleLabel_->text(), QStringLiteral("BETA"), headline_->text(),
                      freeDisk_->text()};
    if (settingsProblem_->isVisibleTo(this)) texts << settingsProblem_->text();
    texts << rowList_->visibleTexts();
    texts << cleanButton_->text() << safetyNote_->text()
          << QStringLiteral("Open at Login: ") +
                 (loginSwitch_->isOn() ? QStringLiteral("on") : QStringLiteral("off"))
          << versionLine_->text() << copyright_->text();
    return texts;
}

void PopoverView::writeTestDump() const {
    // SWEEPKIN_TEST_DUMP names a file that receives the panel's texts after each refresh, and the
    // clean button's centre on screen, so an end-to-end run can read the panel without OCR.
    const QString dumpPath = testDumpPath();
    if (dumpPath.isEmpty()) return;
    QSaveFile file(dumpPath);
    if (!file.open(QIODevice::WriteOnly)) return;
    QStringList lines = visibleTexts();
    const QPoint centre = cleanButton_->mapToGlobal(cleanButton_->rect().center());
    lines << QStringLiteral("@visible %1").arg(window()->isVisible() ? 1 : 0)
          << QStringLiteral("@clean %1 %2 %3")
                 .arg(centre.x())
                 .arg(centre.y())
                 .arg(cleanButton_->isEnabled() ? 1 : 0);
    file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    file.commit();
}

void PopoverView::applyAppearance() {
    if (applyingAppearance_) return;
    applyingAppearance_ = true;
    const bool dark = isDarkAppearance();
    const QColor secondary = secondaryTextColor(dark);
    for (QLabel* label : {titleLabel_, freeDisk_, safetyNote_, versionLine_}) {
        setTextColor(label, secondary);
    }
    rowList_->applyAppearance(dark);
    QColor faint = secondary;
    faint.setAlphaF(0.75f);
    setTextColor(copyright_, faint);
    setTextColor(headline_, Palette::ink.resolve(dark));
    setTextColor(settingsProblem_, Palette::ink.resolve(dark));
    applyingAppearance_ = false;
    update();
}

void PopoverView::changeEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::PaletteChange:
        case QEvent::ApplicationPaletteChange:
        case QEvent::ThemeChange:
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
        case QEvent::StyleChange:
#endif
            applyAppearance();
            break;
        default:
            break;
    }
    QWidget::changeEvent(event);
}

bool PopoverView::event(QEvent* event) {
    if (event->type() == QEvent::ThemeChange || event->type() == QEvent::ApplicationPaletteChange) {
        applyAppearance();
    }
    return QWidget::event(event);
}

void PopoverView::paintEvent(QPaintEvent*) {
    paintPanelPage(this, {headerCard_, rowList_});
}

}  // namespace sweepkin
