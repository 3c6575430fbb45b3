#include "ops/settings.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSettings>
#include <QVariant>
#include <algorithm>

#include "engine/fs/base_dirs.h"

namespace sweepkin {

namespace {

// One lock for every store in the process: two stores on the same file must not interleave a
// counter's read and write either.
QMutex& storeMutex() {
    static QMutex mutex;
    return mutex;
}

// On-disk forms: booleans "true"/"false", integers as decimal text, strings as text, dates as
// QDateTime variants. INI files hand plain values back as strings, so the readers below accept
// exactly those forms (and the typed values a native store returns) and nothing else.

std::optional<bool> asBool(const QVariant& v) {
    if (v.typeId() == QMetaType::Bool) return v.toBool();
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString();
        if (s == QLatin1String("true")) return true;
        if (s == QLatin1String("false")) return false;
    }
    return std::nullopt;
}

std::optional<qint64> asInt(const QVariant& v) {
    switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
            return v.toLongLong();
        case QMetaType::QString: {
            bool ok = false;
            const qint64 n = v.toString().toLongLong(&ok, 10);
            if (ok) return n;
            return std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

struct SettingsStore::Impl {
    QString iniPath;  // empty: the user's store

    std::unique_ptr<QSettings> open() const {
        if (!iniPath.isEmpty()) return std::make_unique<QSettings>(iniPath, QSettings::IniFormat);
#ifdef __APPLE__
        return std::make_unique<QSettings>(QStringLiteral("Sweepkin"), QStringLiteral("Sweepkin"));
#else
        // ~/.config/Sweepkin/Sweepkin.conf (or under $XDG_CONFIG_HOME when it passes the same
        // checks as everywhere else), worked out on each use: QSettings' own user scope fixes
        // its folder at its first use in the process.
        const QString config = QString::fromStdString(currentBaseDirs().configHome);
        return std::make_unique<QSettings>(config + QStringLiteral("/Sweepkin/Sweepkin.conf"),
                                           QSettings::IniFormat);
#endif
    }

    QVariant read(const char* key) const {
        return open()->value(QLatin1String(key));
    }

    // Written through at once: a crash right after a clean must not lose `lastClean`.
    void write(const char* key, const QVariant& value) {
        auto settings = open();
        settings->setValue(QLatin1String(key), value);
        settings->sync();
    }
};

SettingsStore::SettingsStore() : impl_(std::make_unique<Impl>()) {}

SettingsStore::SettingsStore(const QString& iniPath) : impl_(std::make_unique<Impl>()) {
    impl_->iniPath = iniPath;
}

SettingsStore::~SettingsStore() = default;

bool SettingsStore::boolValue(const char* key) const {
    QMutexLocker lock(&storeMutex());
    return asBool(impl_->read(key)).value_or(false);
}

qint64 SettingsStore::intValue(const char* key) const {
    return optionalInt(key).value_or(0);
}

std::optional<qint64> SettingsStore::optionalInt(const char* key) const {
    QMutexLocker lock(&storeMutex());
    return asInt(impl_->read(key));
}

std::optional<QDateTime> SettingsStore::dateValue(const char* key) const {
    QMutexLocker lock(&storeMutex());
    const QVariant v = impl_->read(key);
    if (v.typeId() != QMetaType::QDateTime) return std::nullopt;
    const QDateTime date = v.toDateTime();
    // A damaged variant can decode to a "valid" date thousands of years away; no stored time of
    // this program lies outside the four-digit years.
    if (!date.isValid() || date.date().year() < 1970 || date.date().year() > 9999) {
        return std::nullopt;
    }
    return date;
}

std::optional<QString> SettingsStore::stringValue(const char* key) const {
    QMutexLocker lock(&storeMutex());
    const QVariant v = impl_->read(key);
    if (v.typeId() != QMetaType::QString) return std::nullopt;
    return v.toString();
}

QStringList SettingsStore::stringList(const char* key) const {
    QMutexLocker lock(&storeMutex());
    const QVariant v = impl_->read(key);
    // An INI file gives a one-element list back as a plain string.
    if (v.typeId() == QMetaType::QString && !v.toString().isEmpty()) return {v.toString()};
    if (v.typeId() == QMetaType::QStringList) return v.toStringList();
    return {};
}

void SettingsStore::setBool(const char* key, bool value) {
    QMutexLocker lock(&storeMutex());
    impl_->write(key, value ? QStringLiteral("true") : QStringLiteral("false"));
}

void SettingsStore::setInt(const char* key, qint64 value) {
    QMutexLocker lock(&storeMutex());
    impl_->write(key, QString::number(value));
}

void SettingsStore::setDate(const char* key, const QDateTime& value) {
    QMutexLocker lock(&storeMutex());
    impl_->write(key, value);
}

void SettingsStore::setString(const char* key, const QString& value) {
    QMutexLocker lock(&storeMutex());
    impl_->write(key, value);
}

void SettingsStore::setStringList(const char* key, const QStringList& value) {
    QMutexLocker lock(&storeMutex());
    impl_->write(key, value);
}

qint64 SettingsStore::increment(const char* key, qint64 delta) {
    QMutexLocker lock(&storeMutex());
    auto settings = impl_->open();
    const qint64 next = asInt(settings->value(QLatin1String(key))).value_or(0) + delta;
    settings->setValue(QLatin1String(key), QString::number(next));
    settings->sync();
    return next;
}

qint64 SettingsStore::lowerCounter(const char* key, qint64 amount) {
    QMutexLocker lock(&storeMutex());
    auto settings = impl_->open();
    const qint64 current = asInt(settings->value(QLatin1String(key))).value_or(0);
    const qint64 next = std::max<qint64>(0, current - amount);
    settings->setValue(QLatin1String(key), QString::number(next));
    settings->sync();
    return next;
}

}  // namespace sweepkin
