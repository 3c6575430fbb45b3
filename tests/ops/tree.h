#pragma once
// Builds small file trees with exact byte counts inside a temporary folder.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace sweepkin::testing {

// Writes a file of exactly `bytes` bytes (sparse), creating its folders.
inline bool makeFile(const QString& path, qint64 bytes) {
    if (!QDir().mkpath(QFileInfo(path).path())) return false;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.resize(bytes);
}

}  // namespace sweepkin::testing
