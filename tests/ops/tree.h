#pragma once
// What the ops tests share: the Qt Test headers and small file helpers for temporary folders.

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <thread>

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
