#pragma once
// The panel's list card: a heading with Select all, then one tick row per row of the model, which
// scroll when there are more than the screen holds, or a line saying why there are none. It acts
// only by writing row ticks.

#include <QVector>
#include <QWidget>

#include "ops/ui_model.h"
#include "shell/panel_decorations.h"
#include "shell/row_icons.h"

class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace sweepkin {

class TextButton;
class TickRow;

class RowList : public Card {
  public:
    RowList(UIModel* model, RowIconNames iconNames, QWidget* parent = nullptr);

    // Re-reads the model. Tab then runs from Select all through the rows to `nextTabStop`.
    void refresh(QWidget* nextTabStop);
    // Ticks every row, or unticks every row when all are ticked.
    void selectAll();

    // The rows' whole height, and the most of it the list shows before it scrolls.
    int rowsHeight() const;
    void limitHeight(int height);

    // The ids of the rows wholly inside the visible part of the list while it is on screen.
    QStringList rowsInView() const;
    // The heading, Select all, the placeholder when shown and a "[x] name — size" line per row.
    QStringList visibleTexts() const;
    void applyAppearance(bool dark);

    TextButton* selectAllButton() const { return selectAllButton_; }
    QVector<TickRow*> tickRows() const { return tickRows_; }

  private:
    void syncRows(QWidget* nextTabStop);
    void rowClicked(TickRow* row);

    UIModel* model_;
    RowIconNames iconNames_;
    QLabel* heading_ = nullptr;
    TextButton* selectAllButton_ = nullptr;
    QLabel* emptyText_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* rowsBox_ = nullptr;
    QVBoxLayout* rowsLayout_ = nullptr;
    int heightLimit_ = QWIDGETSIZE_MAX;
    QVector<TickRow*> tickRows_;
};

}  // namespace sweepkin
