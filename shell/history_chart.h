#pragma once
// The history page's chart: the total of caches over a period as a line on a soft fill, each
// clean marked where it came, drawn in the panel's palette.

#include <QDateTime>
#include <QVector>
#include <QWidget>
#include <utility>

namespace sweepkin {

class HistoryChart : public QWidget {
  public:
    explicit HistoryChart(QWidget* parent = nullptr);

    // The totals (oldest first) and the cleans over the period from `from` to `to`.
    void setSeries(QVector<std::pair<QDateTime, qint64>> totals,
                   QVector<std::pair<QDateTime, qint64>> cleans, const QDateTime& from,
                   const QDateTime& to);

    QSize sizeHint() const override { return QSize(280, 120); }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QVector<std::pair<QDateTime, qint64>> totals_;
    QVector<std::pair<QDateTime, qint64>> cleans_;
    QDateTime from_, to_;
};

}  // namespace sweepkin
