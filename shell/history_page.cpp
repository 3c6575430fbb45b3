#include "shell/history_page.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPointer>
#include <QVBoxLayout>

#include "ops/history_summary.h"
#include "shell/history_chart.h"
#include "shell/palette.h"
#include "shell/panel_buttons.h"
#include "shell/panel_decorations.h"
#include "shell/panel_page.h"
#include "shell/panel_style.h"
#include "shell/panel_toggles.h"

namespace sweepkin {

namespace {

const int kPeriodDays[] = {30, 90, 365};
constexpr int kGrewRows = 5;

QLabel* addLabel(QVBoxLayout* column, const QFont& font, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    column->addWidget(label);
    return label;
}

}  // namespace

HistoryPage::HistoryPage(HistoryStore* store, std::vector<AppTarget> targets,
                         std::function<QDateTime()> now, QWidget* parent)
    : QWidget(parent), store_(store), targets_(std::move(targets)), now_(std::move(now)) {
    QVBoxLayout* page = subPageLayout(this, QStringLiteral("History"), back_, title_);
    connect(back_, &QAbstractButton::clicked, this, &HistoryPage::backRequested);

    chartCard_ = new Card(this);
    auto* chartColumn = new QVBoxLayout(chartCard_);
    chartColumn->setContentsMargins(12, 12, 12, 12);
    chartColumn->setSpacing(8);
    period_ = new SegmentedChoice(QStringLiteral("Period"), {"30 days", "90 days", "365 days"},
                                  chartCard_);
    connect(period_, &SegmentedChoice::picked, this, [this] { present(); });
    chartColumn->addWidget(period_);
    chart_ = new HistoryChart(chartCard_);
    chartColumn->addWidget(chart_);
    fillsIn_ = addLabel(chartColumn, captionFont(), chartCard_);
    fillsIn_->setText(QStringLiteral("The chart fills in as Sweepkin measures."));
    page->addWidget(chartCard_);

    rowsCard_ = new Card(this);
    auto* rowsColumn = new QVBoxLayout(rowsCard_);
    rowsColumn->setContentsMargins(12, 12, 12, 12);
    rowsColumn->setSpacing(6);
    grewHeading_ = addLabel(rowsColumn, captionFont(), rowsCard_);
    grewHeading_->setText(QStringLiteral("Grew most"));
    for (int i = 0; i < kGrewRows; ++i) grew_ << addLabel(rowsColumn, captionFont(), rowsCard_);
    freed_ = addLabel(rowsColumn, caption2Font(), rowsCard_);
    page->addWidget(rowsCard_);
    page->addStretch(1);

    applyAppearance();
    present();
}

void HistoryPage::refresh() {
    if (!store_) return present();
    QPointer<HistoryPage> self(this);
    store_->read([self](QVector<HistoryRecord> records) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, records = std::move(records)] {
                if (self) self->setRecords(records);
            },
            Qt::QueuedConnection);
    });
}

void HistoryPage::setRecords(QVector<HistoryRecord> records) {
    records_ = std::move(records);
    present();
}

void HistoryPage::present() {
    const int days = kPeriodDays[qBound(0, period_->current(), 2)];
    const QDateTime now = now_();
    const HistorySummary summary = summarizeHistory(records_, now, days);
    const bool filled = summary.totals.size() >= 2;
    chart_->setSeries(summary.totals, summary.cleans, now.addDays(-days), now);
    chart_->setVisible(filled);
    fillsIn_->setVisible(!filled);
    grewHeading_->setText(summary.grewMost.isEmpty()
                              ? QStringLiteral("No row grew in the last %1 days").arg(days)
                              : QStringLiteral("Grew most in the last %1 days").arg(days));
    for (int i = 0; i < kGrewRows; ++i) {
        const bool shown = i < summary.grewMost.size();
        grew_[i]->setVisible(shown);
        if (shown) {
            const RowGrowth& row = summary.grewMost[i];
            grew_[i]->setText(growthText(rowName(targets_, row.id), row.bytes));
        }
    }
    freed_->setText(freedSoFarText(summary.freedSoFar, summary.cleansSoFar));
    emit contentChanged();
}

QStringList HistoryPage::visibleTexts() const {
    QStringList texts{title_->text(), period_->options().value(period_->current())};
    if (chart_->isVisibleTo(this)) texts << chart_->accessibleName();
    if (fillsIn_->isVisibleTo(this)) texts << fillsIn_->text();
    texts << grewHeading_->text();
    for (QLabel* label : grew_) {
        if (label->isVisibleTo(this)) texts << label->text();
    }
    return texts << freed_->text();
}

QSize HistoryPage::sizeHint() const {
    return QSize(kPanelWidth, layout()->totalHeightForWidth(kPanelWidth));
}

void HistoryPage::applyAppearance() {
    const bool dark = isDarkAppearance();
    for (QLabel* label : {title_, grewHeading_}) setTextColor(label, Palette::ink.resolve(dark));
    for (QLabel* label : std::as_const(grew_)) setTextColor(label, Palette::ink.resolve(dark));
    for (QLabel* label : {fillsIn_, freed_}) setTextColor(label, secondaryTextColor(dark));
    update();
}

void HistoryPage::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ThemeChange ||
        event->type() == QEvent::ApplicationPaletteChange) {
        applyAppearance();
    }
    QWidget::changeEvent(event);
}

void HistoryPage::paintEvent(QPaintEvent*) {
    paintPanelPage(this, {chartCard_, rowsCard_});
}

}  // namespace sweepkin
