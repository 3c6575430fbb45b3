#include "shell/popover_view.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>
#include <QScrollArea>
#include <QVBoxLayout>

#include "engine/process_values.h"
#include "ops/size_text.h"
#include "shell/palette.h"
#include "shell/panel_widgets.h"
#include "shell/test_dump.h"

namespace sweepkin {

namespace {

QLabel* makeLabel(const QFont& font, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

PopoverView::PopoverView(UIModel* model, AppActions actions, QWidget* parent)
    : QWidget(parent), model_(model), actions_(std::move(actions)) {
    setFixedWidth(kWidth);
    setAutoFillBackground(false);

    auto* panel = new QVBoxLayout(this);
    panel->setContentsMargins(14, 14, 14, 14);
    panel->setSpacing(12);

    // Header card: icon, then title with badge, headline and free space.
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
    panel->addWidget(headerCard_);

    // List card: heading with the select-all button, then the rows or a placeholder.
    listCard_ = new Card(this);
    auto* listColumn = new QVBoxLayout(listCard_);
    listColumn->setContentsMargins(12, 12, 12, 12);
    listColumn->setSpacing(8);
    auto* headingRow = new QHBoxLayout;
    headingRow->setSpacing(6);
    listHeading_ = makeLabel(caption2Font(QFont::DemiBold), listCard_);
    listHeading_->setText(QStringLiteral("CHOOSE WHAT TO CLEAN"));
    headingRow->addWidget(listHeading_);
    headingRow->addStretch(1);
    selectAllButton_ = new TextButton(listCard_);
    connect(selectAllButton_, &QAbstractButton::clicked, this, &PopoverView::selectAll);
    headingRow->addWidget(selectAllButton_);
    listColumn->addLayout(headingRow);
    emptyText_ = makeLabel(captionFont(), listCard_);
    emptyText_->setWordWrap(true);
    listColumn->addWidget(emptyText_);
    // The rows scroll when a busy home has more than the screen holds.
    rowsScroll_ = new QScrollArea(listCard_);
    rowsScroll_->setFrameShape(QFrame::NoFrame);
    rowsScroll_->setFocusPolicy(Qt::NoFocus);
    rowsScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    rowsScroll_->setWidgetResizable(true);
    rowsScroll_->viewport()->setAutoFillBackground(false);
    rowsBox_ = new QWidget;
    rowsLayout_ = new QVBoxLayout(rowsBox_);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(6);
    rowsScroll_->setWidget(rowsBox_);
    rowsBox_->setAutoFillBackground(false);  // setWidget turned it on: the card shows through
    listColumn->addWidget(rowsScroll_);
    // A row reached with Tab scrolls into view.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now != nullptr && rowsBox_->isAncestorOf(now)) rowsScroll_->ensureWidgetVisible(now);
    });
    panel->addWidget(listCard_);

    // Action area: the clean button and the safety note under it.
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
    panel->addLayout(actionColumn);

    panel->addWidget(new Divider(this));

    // Footer: the login switch and the icon buttons, Quit last.
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
    panel->addLayout(footerRow);

    auto* footerLines = new QVBoxLayout;
    footerLines->setSpacing(2);
    versionLine_ = makeLabel(caption2Font(), this);
    footerLines->addWidget(versionLine_);
    copyright_ = makeLabel(systemFont(7.5), this);
    copyright_->setText(QStringLiteral("© 2026 The Sweepkin developers"));
    footerLines->addWidget(copyright_);
    panel->addLayout(footerLines);

    connect(model_, &UIModel::objectWillChange, this, &PopoverView::scheduleRefresh);
    applyAppearance();
    refresh();
}

void PopoverView::scheduleRefresh() {
    // The model announces a write before it happens; read it once the current turn is over.
    if (refreshPending_) return;
    refreshPending_ = true;
    QMetaObject::invokeMethod(this, &PopoverView::refresh, Qt::QueuedConnection);
}

void PopoverView::refresh() {
    refreshPending_ = false;
    const bool scanning = model_->scanning();
    const bool cleaning = model_->cleaning();
    const QVector<CacheRow>& rows = model_->rows();

    headline_->setText(scanning
                           ? QStringLiteral("Measuring caches…")
                           : sizeText(model_->totalBytes()) + QStringLiteral(" of caches found"));
    fitHeadline();
    freeDisk_->setText(QStringLiteral("Free disk: ") + model_->freeDiskText());
    settingsProblem_->setText(model_->settingsProblem());
    settingsProblem_->setVisible(!model_->settingsProblem().isEmpty());

    selectAllButton_->setText(model_->allSelected() ? QStringLiteral("Select none")
                                                    : QStringLiteral("Select all"));
    selectAllButton_->updateGeometry();

    if (rows.isEmpty()) {
        emptyText_->setText(
            scanning ? QStringLiteral("Looking for caches…")
                     : QStringLiteral("No caches found — everything is already clean ✓"));
    }
    emptyText_->setVisible(rows.isEmpty());
    syncRows();
    rowsScroll_->setVisible(!rows.isEmpty());

    const qint64 selectedBytes = model_->selectedBytes();
    cleanButton_->setText(cleaning ? QStringLiteral("Cleaning…")
                                   : QStringLiteral("Clean Selected (") + sizeText(selectedBytes) +
                                         QStringLiteral(")"));
    cleanButton_->setEnabled(!cleaning && !model_->selectedRows().isEmpty() && selectedBytes != 0);
    cleanButton_->updateGeometry();

    loginSwitch_->setOn(model_->loginOn());
    versionLine_->setText(QStringLiteral("Beta ") +
                          QString::fromStdString(processValues().appVersion) +
                          QStringLiteral(" · Last clean: ") + model_->lastCleanText());

    // Rows come and go inside nested widgets; drop their cached sizes so the panel's preferred
    // height is right even before the nested layouts have run.
    rowsLayout_->invalidate();
    sizeRows();
    for (QWidget* w :
         std::initializer_list<QWidget*>{rowsBox_, emptyText_, headline_, listCard_, headerCard_}) {
        w->updateGeometry();
    }
    layout()->activate();
    update();
    emit contentChanged();
    writeTestDump();
}

void PopoverView::fitHeadline() {
    // Room beside the icon: the panel and card margins, the icon and the gap after it.
    constexpr int kRoom = kWidth - 2 * 14 - 2 * 12 - 46 - 12;
    QFont font = title3Font();
    const qreal smallest = font.pointSizeF() * 0.75;
    while (QFontMetrics(font).horizontalAdvance(headline_->text()) > kRoom &&
           font.pointSizeF() > smallest) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
    }
    headline_->setFont(font);
}

void PopoverView::syncRows() {
    const QVector<CacheRow>& rows = model_->rows();
    bool sameOrder = rows.size() == tickRows_.size();
    for (int i = 0; sameOrder && i < rows.size(); ++i) sameOrder = tickRows_[i]->id() == rows[i].id;

    if (!sameOrder) {
        // Rebuild the order, keeping the widget of every id that stays so focus is not lost.
        QHash<QString, TickRow*> existing;
        for (TickRow* row : tickRows_) {
            rowsLayout_->removeWidget(row);
            existing.insert(row->id(), row);
        }
        QVector<TickRow*> ordered;
        ordered.reserve(rows.size());
        for (const CacheRow& row : rows) {
            TickRow* widget = existing.take(row.id);
            if (!widget) {
                widget = new TickRow(row.id, row.name, rowsBox_);
                connect(widget, &QAbstractButton::clicked, this,
                        [this, widget] { rowClicked(widget); });
            }
            rowsLayout_->addWidget(widget);
            widget->show();
            ordered.push_back(widget);
        }
        for (TickRow* gone : std::as_const(existing)) gone->deleteLater();
        for (TickRow* gone : std::as_const(existing)) gone->hide();
        tickRows_ = ordered;
        // Rows are made after the buttons below them; Tab still goes from top to bottom.
        QWidget* previous = selectAllButton_;
        for (TickRow* row : std::as_const(tickRows_))
            setTabOrder(std::exchange(previous, row), row);
        setTabOrder(previous, cleanButton_);
    }
    for (int i = 0; i < rows.size(); ++i) {
        const CacheRow& row = rows[i];
        tickRows_[i]->setState(row.selected, row.size ? sizeText(*row.size) : QStringLiteral("…"));
    }
}

void PopoverView::rowClicked(TickRow* row) {
    // Look the row up by id at click time: the list may have been republished since.
    const QVector<CacheRow>& rows = model_->rows();
    for (int i = 0; i < rows.size(); ++i) {
        if (rows[i].id == row->id()) {
            model_->setRowSelected(i, !rows[i].selected);
            return;
        }
    }
}

void PopoverView::selectAll() {
    const bool target = !model_->allSelected();
    const int count = model_->rows().size();
    for (int i = 0; i < count; ++i) model_->setRowSelected(i, target);
}

void PopoverView::sizeRows() {
    rowsScroll_->setFixedHeight(std::min(rowsLayout_->sizeHint().height(), rowsLimit_));
    // The cards keep the sizes they reported last.
    listCard_->layout()->invalidate();
    listCard_->updateGeometry();
    layout()->invalidate();
}

void PopoverView::fitHeight(int height) {
    rowsLimit_ = QWIDGETSIZE_MAX;
    sizeRows();
    layout()->activate();
    const int over = sizeHint().height() - height;
    if (over > 0) {
        // At least a few rows stay visible, whatever the screen.
        rowsLimit_ = std::max(rowsLayout_->sizeHint().height() - over, 3 * 24);
        sizeRows();
        layout()->activate();
    }
}

QSize PopoverView::sizeHint() const {
    QLayout* l = layout();
    if (!l) return QSize(kWidth, 200);
    const int height =
        l->hasHeightForWidth() ? l->totalHeightForWidth(kWidth) : l->totalSizeHint().height();
    return QSize(kWidth, height);
}

QStringList PopoverView::rowsInView() const {
    QStringList ids;
    if (!isVisible()) return ids;
    const QRect area = rowsScroll_->viewport()->rect();
    for (const TickRow* row : tickRows_) {
        const int top = row->mapTo(rowsScroll_->viewport(), QPoint(0, 0)).y();
        // The list scrolls only up and down: a row is in view when its whole height is.
        if (row->isVisible() && top >= area.top() && top + row->height() - 1 <= area.bottom())
            ids << row->id();
    }
    return ids;
}

QStringList PopoverView::visibleTexts() const {
    QStringList texts{titleLabel_->text(), QStringLiteral("BETA"), headline_->text(),
                      freeDisk_->text()};
    if (settingsProblem_->isVisibleTo(this)) texts << settingsProblem_->text();
    texts << listHeading_->text() << selectAllButton_->text();
    if (emptyText_->isVisibleTo(this)) texts << emptyText_->text();
    for (const TickRow* row : tickRows_) {
        texts << (row->ticked() ? QStringLiteral("[x] ") : QStringLiteral("[ ] ")) + row->name() +
                     QStringLiteral(" — ") + row->sizeText();
    }
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
    for (QLabel* label :
         {titleLabel_, freeDisk_, listHeading_, emptyText_, safetyNote_, versionLine_}) {
        setTextColor(label, secondary);
    }
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
    paintPanelPage(this, {headerCard_, listCard_});
}

}  // namespace sweepkin
