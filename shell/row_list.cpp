#include "shell/row_list.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "ops/size_text.h"
#include "shell/palette.h"
#include "shell/panel_buttons.h"
#include "shell/panel_style.h"
#include "shell/panel_toggles.h"

namespace sweepkin {

RowList::RowList(UIModel* model, RowIconNames iconNames, QWidget* parent)
    : Card(parent), model_(model), iconNames_(std::move(iconNames)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(8);
    auto* headingRow = new QHBoxLayout;
    headingRow->setSpacing(6);
    heading_ = makeLabel(caption2Font(QFont::DemiBold), this);
    heading_->setText(QStringLiteral("CHOOSE WHAT TO CLEAN"));
    headingRow->addWidget(heading_);
    headingRow->addStretch(1);
    selectAllButton_ = new TextButton(this);
    connect(selectAllButton_, &QAbstractButton::clicked, this, &RowList::selectAll);
    headingRow->addWidget(selectAllButton_);
    column->addLayout(headingRow);
    emptyText_ = makeLabel(captionFont(), this);
    emptyText_->setWordWrap(true);
    column->addWidget(emptyText_);
    // The rows scroll when a busy home has more than the screen holds.
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setWidgetResizable(true);
    scroll_->viewport()->setAutoFillBackground(false);
    rowsBox_ = new QWidget;
    rowsLayout_ = new QVBoxLayout(rowsBox_);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(6);
    scroll_->setWidget(rowsBox_);
    rowsBox_->setAutoFillBackground(false);  // setWidget turned it on: the card shows through
    column->addWidget(scroll_);
    // A row reached with Tab scrolls into view.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now != nullptr && rowsBox_->isAncestorOf(now)) scroll_->ensureWidgetVisible(now);
    });
}

void RowList::refresh(QWidget* nextTabStop) {
    const bool empty = model_->rows().isEmpty();
    selectAllButton_->setText(model_->allSelected() ? QStringLiteral("Select none")
                                                    : QStringLiteral("Select all"));
    selectAllButton_->updateGeometry();
    if (empty) {
        emptyText_->setText(
            model_->scanning() ? QStringLiteral("Looking for caches…")
                               : QStringLiteral("No caches found — everything is already clean ✓"));
    }
    emptyText_->setVisible(empty);
    syncRows(nextTabStop);
    scroll_->setVisible(!empty);

    // Rows come and go inside nested widgets; drop their cached sizes so the panel's preferred
    // height is right even before the nested layouts have run.
    rowsLayout_->invalidate();
    limitHeight(heightLimit_);
    for (QWidget* w : std::initializer_list<QWidget*>{rowsBox_, emptyText_, this}) {
        w->updateGeometry();
    }
}

void RowList::syncRows(QWidget* nextTabStop) {
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
                widget = new TickRow(row.id, row.name, rowIcon(iconNames_.value(row.id)), rowsBox_);
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
        setTabOrder(previous, nextTabStop);
    }
    for (int i = 0; i < rows.size(); ++i) {
        const CacheRow& row = rows[i];
        tickRows_[i]->setState(row.selected, row.size ? sizeText(*row.size) : QStringLiteral("…"));
    }
}

void RowList::rowClicked(TickRow* row) {
    // Look the row up by id at click time: the list may have been republished since.
    const QVector<CacheRow>& rows = model_->rows();
    for (int i = 0; i < rows.size(); ++i) {
        if (rows[i].id == row->id()) {
            model_->setRowSelected(i, !rows[i].selected);
            return;
        }
    }
}

void RowList::selectAll() {
    const bool target = !model_->allSelected();
    const int count = model_->rows().size();
    for (int i = 0; i < count; ++i) model_->setRowSelected(i, target);
}

int RowList::rowsHeight() const {
    return rowsLayout_->sizeHint().height();
}

void RowList::limitHeight(int height) {
    heightLimit_ = height;
    scroll_->setFixedHeight(std::min(rowsHeight(), heightLimit_));
    // The card keeps the size it reported last.
    layout()->invalidate();
    updateGeometry();
}

QStringList RowList::rowsInView() const {
    QStringList ids;
    if (!isVisible()) return ids;
    const QRect area = scroll_->viewport()->rect();
    for (const TickRow* row : tickRows_) {
        const int top = row->mapTo(scroll_->viewport(), QPoint(0, 0)).y();
        // The list scrolls only up and down: a row is in view when its whole height is.
        if (row->isVisible() && top >= area.top() && top + row->height() - 1 <= area.bottom())
            ids << row->id();
    }
    return ids;
}

QStringList RowList::visibleTexts() const {
    QStringList texts{heading_->text(), selectAllButton_->text()};
    if (emptyText_->isVisibleTo(this)) texts << emptyText_->text();
    for (const TickRow* row : tickRows_) {
        texts << (row->ticked() ? QStringLiteral("[x] ") : QStringLiteral("[ ] ")) + row->name() +
                     QStringLiteral(" — ") + row->sizeText();
    }
    return texts;
}

void RowList::applyAppearance(bool dark) {
    for (QLabel* label : {heading_, emptyText_}) setTextColor(label, secondaryTextColor(dark));
}

}  // namespace sweepkin
