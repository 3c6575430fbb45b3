#include "ops/settings.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QVariant>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/fs/base_dirs.h"
#include "engine/fs/home.h"

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
        if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || s == QLatin1String("1"))
            return true;
        if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 || s == QLatin1String("0"))
            return false;
    }
    return std::nullopt;
}

// Whether every line of an INI file is one QSettings reads as it was meant: a section, a
// comment, a blank or `key=value` whose quotes close on the same line, each key once in its
// section. A stray quote or a backslash at the end would make the reader take the following
// lines into that value, an unquoted ';' would end it there, and of a key given twice (in one
// section, or in a section given twice) only the last counts: an untick written first is lost.
bool iniParses(const QByteArray& text) {
    QSet<QByteArray> keys;
    QByteArray section = "General";
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#')) continue;
        if (line.startsWith('[')) {
            if (!line.endsWith(']')) return false;
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0) return false;
        const QByteArray key = QByteArray::fromPercentEncoding(line.left(equals).trimmed());
        if (key.contains('"')) return false;
        const QByteArray where = section + '/' + key;
        if (keys.contains(where)) return false;
        keys.insert(where);
        bool quoted = false;
        for (qsizetype i = equals + 1; i < line.size(); ++i) {
            if (line[i] == '\\') {
                if (++i == line.size()) return false;
            } else if (line[i] == '"') {
                quoted = !quoted;
            } else if (line[i] == ';' && !quoted) {
                return false;
            }
        }
        if (quoted) return false;
    }
    return true;
}

QString errnoText(int error) {
    QString text = QString::fromLocal8Bit(std::strerror(error));
    if (!text.isEmpty()) text[0] = text[0].toLower();
    return text;
}

// Why `path` could not be written, as far as can be told without writing: another user's file,
// no permission on it or its folder, no room.
QString writeFailureReason(const QString& path) {
    const QByteArray file = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    struct stat st {};
    if (::stat(file.constData(), &st) == 0) {
        if (st.st_uid != ::geteuid()) return QStringLiteral("it belongs to another user");
        if (::access(file.constData(), W_OK) != 0) return errnoText(errno);
    }
    if (::stat(folder.constData(), &st) != 0) return errnoText(errno);
    if (!S_ISDIR(st.st_mode)) return QStringLiteral("its folder is not a folder");
    if (::access(folder.constData(), W_OK) != 0)
        return QStringLiteral("its folder: ") + errnoText(errno);
    struct statvfs fs {};
    if (::statvfs(folder.constData(), &fs) == 0 && fs.f_bavail == 0) {
        return QStringLiteral("the disk is full");
    }
    return QStringLiteral("it could not be written");
}

const QRegularExpression& rowIdForm() {
    static const QRegularExpression form(QStringLiteral("^[a-z][a-z0-9]*(-[a-z0-9]+)*$"));
    return form;
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
    // Guarded by storeMutex().
    bool damaged = false;
    std::optional<QString> brokenCopy;  // only when the copy was made
    std::optional<QString> problem;
    bool ticksUnsaved = false;
    bool listsTrusted = true;
    bool readOnly = false;
    std::function<void(const QString&)> listener;

    QString path() const {
        if (!iniPath.isEmpty()) return iniPath;
#ifdef __APPLE__
        return QSettings(QStringLiteral("Sweepkin"), QStringLiteral("Sweepkin")).fileName();
#else
        // ~/.config/Sweepkin/Sweepkin.conf (or under $XDG_CONFIG_HOME when it passes the same
        // checks as everywhere else), worked out on each use: QSettings' own user scope fixes
        // its folder at its first use in the process.
        return QString::fromStdString(currentBaseDirs().configHome) +
               QStringLiteral("/Sweepkin/Sweepkin.conf");
#endif
    }

    std::unique_ptr<QSettings> open() const {
#ifdef __APPLE__
        if (iniPath.isEmpty()) {
            return std::make_unique<QSettings>(QStringLiteral("Sweepkin"),
                                               QStringLiteral("Sweepkin"));
        }
#endif
        return std::make_unique<QSettings>(path(), QSettings::IniFormat);
    }

    QVariant read(const char* key) const {
        return open()->value(QLatin1String(key));
    }

    // A file QSettings would misread is copied aside, keeping its time, before anything is
    // written over it: to Sweepkin.conf.broken, or with the file's date added when a different
    // copy is already there.
    void keepBrokenFile() {
        const QString file = path();
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly)) return;
        const QByteArray text = in.readAll();
        if (iniParses(text)) return;
        listsTrusted = false;
        if (readOnly) return;
        const QDateTime modified = QFileInfo(file).lastModified();
        QString copy = file + QStringLiteral(".broken");
        QFile existing(copy);
        const bool same = existing.open(QIODevice::ReadOnly) && existing.readAll() == text;
        if (!same && QFileInfo::exists(copy)) {
            copy += modified.toString(QStringLiteral("-yyyy-MM-dd-HHmmss"));
        }
        // Only a new file: whatever already has the name (a link, say) is left as it is, and the
        // next free name "-2", "-3", ... taken instead.
        bool kept = same;
        const QString named = copy;
        for (int n = 2; !kept && n <= 9; copy = named + QStringLiteral("-%1").arg(n++)) {
            QFile out(copy);
            if (out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
                kept = out.write(text) == text.size() && out.flush();
                if (kept) out.setFileTime(modified, QFileDevice::FileModificationTime);
                break;
            }
            if (!QFileInfo(copy).isSymLink() && !QFileInfo::exists(copy)) break;
        }
        damaged = true;
        if (kept) brokenCopy = copy;
        setProblem(
            QStringLiteral("Settings damaged — %1 could not be read%2")
                .arg(QString::fromStdString(abbreviateTilde(file.toStdString())),
                     kept ? QStringLiteral("; a copy is kept as ") + QFileInfo(copy).fileName()
                          : QString()));
    }

    void setProblem(std::optional<QString> next) {
        if (next == problem) return;
        problem = std::move(next);
        if (problem && listener) listener(*problem);
    }

    // Written through at once: a crash right after a clean must not lose `lastClean`.
    bool write(const char* key, const QVariant& value) {
        if (readOnly) return false;
        auto settings = open();
        settings->setValue(QLatin1String(key), value);
        settings->sync();
        const bool ok = settings->status() == QSettings::NoError;
        const bool rows =
            qstrcmp(key, keys::untickedRows) == 0 || qstrcmp(key, keys::seenRows) == 0;
        if (ok) {
            if (rows) {
                ticksUnsaved = false;
                listsTrusted = true;
            }
            if (!damaged || listsTrusted) setProblem(std::nullopt);
        } else {
            if (rows) ticksUnsaved = true;
            const QString file = path();
            setProblem(QStringLiteral("Settings not saved — %1: %2")
                           .arg(QString::fromStdString(abbreviateTilde(file.toStdString())),
                                writeFailureReason(file)));
        }
        return ok;
    }
};

SettingsStore::SettingsStore() : impl_(std::make_unique<Impl>()) {
    QMutexLocker lock(&storeMutex());
    impl_->keepBrokenFile();
}

SettingsStore::SettingsStore(const QString& iniPath) : impl_(std::make_unique<Impl>()) {
    impl_->iniPath = iniPath;
    QMutexLocker lock(&storeMutex());
    impl_->keepBrokenFile();
}

SettingsStore::SettingsStore(ReadOnly) : impl_(std::make_unique<Impl>()) {
    impl_->readOnly = true;
    QMutexLocker lock(&storeMutex());
    impl_->keepBrokenFile();
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::filePath() const {
    return impl_->path();
}

bool SettingsStore::damaged() const {
    QMutexLocker lock(&storeMutex());
    return impl_->damaged;
}

std::optional<QString> SettingsStore::brokenCopy() const {
    QMutexLocker lock(&storeMutex());
    return impl_->brokenCopy;
}

std::optional<QString> SettingsStore::problem() const {
    QMutexLocker lock(&storeMutex());
    return impl_->problem;
}

bool SettingsStore::ticksUnsaved() const {
    QMutexLocker lock(&storeMutex());
    return impl_->ticksUnsaved;
}

bool SettingsStore::rowListsTrusted() const {
    QMutexLocker lock(&storeMutex());
    return impl_->listsTrusted;
}

void SettingsStore::setProblemListener(std::function<void(const QString&)> listener) {
    QMutexLocker lock(&storeMutex());
    impl_->listener = std::move(listener);
}

bool SettingsStore::contains(const char* key) const {
    QMutexLocker lock(&storeMutex());
    return impl_->open()->contains(QLatin1String(key));
}

std::optional<bool> SettingsStore::optionalBool(const char* key) const {
    QMutexLocker lock(&storeMutex());
    return asBool(impl_->read(key));
}

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

std::optional<QStringList> SettingsStore::rowList(const char* key) const {
    QVariant v;
    {
        QMutexLocker lock(&storeMutex());
        auto settings = impl_->open();
        if (!settings->contains(QLatin1String(key))) return QStringList();
        v = settings->value(QLatin1String(key));
    }
    QStringList list;
    if (v.typeId() == QMetaType::QString) {
        if (!v.toString().isEmpty()) list << v.toString();  // the empty list is written as ""
    } else if (v.typeId() == QMetaType::QStringList) {
        list = v.toStringList();
    } else {
        return std::nullopt;
    }
    for (const QString& id : list) {
        if (!isRowId(id)) return std::nullopt;
    }
    return list;
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
    // QSettings writes an empty list as "@Invalid()", which reads back as no value at all.
    impl_->write(key, value.isEmpty() ? QVariant(QString()) : QVariant(value));
}

qint64 SettingsStore::increment(const char* key, qint64 delta) {
    QMutexLocker lock(&storeMutex());
    const qint64 next = asInt(impl_->read(key)).value_or(0) + delta;
    impl_->write(key, QString::number(next));
    return next;
}

qint64 SettingsStore::lowerCounter(const char* key, qint64 amount) {
    QMutexLocker lock(&storeMutex());
    const qint64 current = asInt(impl_->read(key)).value_or(0);
    const qint64 next = std::max<qint64>(0, current - amount);
    impl_->write(key, QString::number(next));
    return next;
}

bool watchDisabled(const SettingsStore& settings) {
    return settings.contains(keys::disableWatch) &&
           settings.optionalBool(keys::disableWatch).value_or(true);
}

qint64 autoCleanDays(const SettingsStore& settings) {
    const std::optional<qint64> days = settings.optionalInt(keys::autoCleanDays);
    if (!days || std::find(std::begin(kAutoCleanChoices), std::end(kAutoCleanChoices), *days) ==
                     std::end(kAutoCleanChoices)) {
        return 0;
    }
    return *days;
}

bool autoCleanDaysInvalid(const SettingsStore& settings) {
    return settings.contains(keys::autoCleanDays) &&
           autoCleanDays(settings) != settings.optionalInt(keys::autoCleanDays).value_or(-1);
}

bool isRowId(const QString& text) {
    return rowIdForm().match(text).hasMatch();
}

}  // namespace sweepkin
