#pragma once
// The one text form of a byte count in the program's Qt layers.

#include <QString>
#include <cstdint>

#include "engine/fs/sizes.h"

namespace sweepkin {

// "2.30 GB", "740 MB", "12 KB", "0 B" (decimal units).
inline QString sizeText(std::int64_t bytes) {
    return QString::fromStdString(formatBytes(bytes));
}

}  // namespace sweepkin
