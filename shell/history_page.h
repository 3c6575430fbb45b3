#pragma once
// The panel's history page: the total of caches over the last 30, 90 or 365 days with the cleans
// marked, the five rows that grew most in that period, and what the cleans gave back so far.

#include <QDateTime>
#include <QVector>
#include <QWidget>
#include <functional>
#include <vector>

#include "engine/catalogue/app_target.h"
#include "ops/history_store.h"

class QLabel;

namespace sweepkin {

class Card;
class HistoryChart;
class IconButton;
class SegmentedChoice;

class HistoryPage : public QWidget {
    Q_OBJECT
  public:
    // Reads from `store` (none: shows what setRecords() hands it); `now` is the clock.
    HistoryPage(HistoryStore* store, std::vector<AppTarget> targets, std::function<QDateTime()> now,
                QWidget* parent = nullptr);

    // Asks the store for its records; they are shown once they arrive.
    void refresh();
    // Shows `records` (oldest first) for the chosen period.
    void setRecords(QVector<HistoryRecord> records);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // The texts shown, one per line, in reading order (for tests).
    QStringList visibleTexts() const;
    IconButton* backButton() const { return back_; }
    SegmentedChoice* periodChoice() const { return period_; }
    HistoryChart* chart() const { return chart_; }

  signals:
    void backRequested();
    // The page's preferred size may have changed.
    void contentChanged();

  protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* event) override;

  private:
    void present();
    void applyAppearance();

    HistoryStore* store_;
    const std::vector<AppTarget> targets_;
    const std::function<QDateTime()> now_;
    QVector<HistoryRecord> records_;
    IconButton* back_ = nullptr;
    QLabel* title_ = nullptr;
    SegmentedChoice* period_ = nullptr;
    Card* chartCard_ = nullptr;
    HistoryChart* chart_ = nullptr;
    QLabel* fillsIn_ = nullptr;
    Card* rowsCard_ = nullptr;
    QLabel* grewHeading_ = nullptr;
    QList<QLabel*> grew_;
    QLabel* freed_ = nullptr;
};

}  // namespace sweepkin
