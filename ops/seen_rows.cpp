#include "ops/seen_rows.h"

namespace sweepkin {

QStringList SeenRows::observe(const QStringList& inView, qint64 nowMs) {
    for (auto it = since_.begin(); it != since_.end();) {
        it = inView.contains(it.key()) ? std::next(it) : since_.erase(it);
    }
    QStringList seen;
    for (const QString& id : inView) {
        const qint64 since = since_.value(id, nowMs);
        since_.insert(id, since);
        if (nowMs - since >= kSeenAfterMs && !reported_.contains(id)) {
            reported_.insert(id);
            seen << id;
        }
    }
    return seen;
}

}  // namespace sweepkin
