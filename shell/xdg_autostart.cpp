#include "shell/xdg_autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include "engine/fs/base_dirs.h"
#include "shell/icons.h"

namespace sweepkin {

namespace {

bool needsQuoting(const QString& argument) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    if (argument.isEmpty()) return true;
    for (QChar c : argument) {
        if (reserved.contains(c)) return true;
    }
    return false;
}

// The string escapes of the file format: backslash, newline, tab, carriage return.
QString escapeString(const QString& value) {
    QString out;
    out.reserve(value.size() + 8);
    for (QChar c : value) {
        switch (c.unicode()) {
            case '\\':
                out += QStringLiteral("\\\\");
                break;
            case '\n':
                out += QStringLiteral("\\n");
                break;
            case '\t':
                out += QStringLiteral("\\t");
                break;
            case '\r':
                out += QStringLiteral("\\r");
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool isFalse(const QString& value) {
    return value.trimmed().compare(u"false", Qt::CaseInsensitive) == 0;
}
bool isTrue(const QString& value) {
    return value.trimmed().compare(u"true", Qt::CaseInsensitive) == 0;
}

}  // namespace

QString desktopExecArgument(const QString& argument) {
    QString quoted;
    if (needsQuoting(argument)) {
        quoted += QLatin1Char('"');
        for (QChar c : argument) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += QLatin1Char('\\');
            quoted += c;
        }
        quoted += QLatin1Char('"');
    } else {
        quoted = argument;
    }
    // A lone "%" would start a field code.
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return escapeString(quoted);
}

QString defaultAutostartEntryPath() {
    return QString::fromStdString(currentBaseDirs().configHome) +
           QStringLiteral("/autostart/sweepkin.desktop");
}

QString autostartEntryText(const QString& program) {
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Sweepkin\n"
               "Comment=Reclaims disk space from application cache folders\n"
               "Exec=%1\n"
               "Icon=%2\n"
               "Terminal=false\n"
               "Categories=Utility;\n"
               "X-GNOME-Autostart-enabled=true\n")
        .arg(desktopExecArgument(program), QString::fromLatin1(kIconName));
}

XdgAutostartItem::XdgAutostartItem(QString entryPath, QString program)
    : entryPath_(std::move(entryPath)), program_(std::move(program)) {}

bool XdgAutostartItem::isRegistered() const {
    QFile file(entryPath_);
    if (!file.open(QIODevice::ReadOnly)) return false;
    bool inMainGroup = false;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup) continue;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1);
        // Hidden=true means "treat as deleted"; the GNOME key is what its settings tools write
        // when the user turns an entry off.
        if (key == QStringLiteral("Hidden") && isTrue(value)) return false;
        if (key == QStringLiteral("X-GNOME-Autostart-enabled") && isFalse(value)) return false;
    }
    return true;
}

bool XdgAutostartItem::registerItem(QString* error) {
    const QString folder = QFileInfo(entryPath_).absolutePath();
    if (!QDir().mkpath(folder)) {
        if (error) *error = QStringLiteral("cannot create the folder %1").arg(folder);
        return false;
    }
    QSaveFile file(entryPath_);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(entryPath_, file.errorString());
        return false;
    }
    file.write(autostartEntryText(program_).toUtf8());
    if (!file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(entryPath_, file.errorString());
        return false;
    }
    return true;
}

bool XdgAutostartItem::unregisterItem(QString* error) {
    QFile file(entryPath_);
    if (!file.exists()) return true;
    if (!file.remove()) {
        if (error)
            *error = QStringLiteral("cannot remove %1: %2").arg(entryPath_, file.errorString());
        return false;
    }
    return true;
}

}  // namespace sweepkin
