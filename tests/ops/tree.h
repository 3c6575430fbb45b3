#pragma once
// Small file helpers for the ops tests: exact byte counts inside a temporary folder.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace sweepkin::testing {

// Writes a file of exactly `bytes` bytes (sparse), creating its folders.
inline bool makeFile(const QString& path, qint64 bytes) {
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).path()) &&
           f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.resize(bytes);
}

// Replaces a file's content; `size`, when given, then pads or cuts it to that many bytes.
inline bool writeFile(const QString& path, const QByteArray& content, qint64 size = -1) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           f.write(content) == content.size() && (size < 0 || f.resize(size));
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace sweepkin::testing
