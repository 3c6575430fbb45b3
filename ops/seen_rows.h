#pragma once
// Which rows the user has really had in front of them: a row counts as seen once it has stayed in
// the list's visible area, with the list itself shown, for a second without a break. Only seen
// rows may be taken by a scheduled clean.

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

namespace sweepkin {

class SeenRows {
  public:
    static constexpr qint64 kSeenAfterMs = 1000;

    // `inView`: the rows fully inside the list's visible area at `nowMs` (a monotonic clock);
    // empty while the panel is closed or the list is covered. Returns the rows that have now
    // been in view for kSeenAfterMs without a break, each once.
    QStringList observe(const QStringList& inView, qint64 nowMs);

  private:
    QHash<QString, qint64> since_;  // the rows in view, and since when
    QSet<QString> reported_;
};

}  // namespace sweepkin
