#include "shell/row_icons.h"

#include <QHash>

namespace sweepkin {

QStringList rowIconNames(const QString& rowName) {
    // The one table of row pictures, by catalogue name.
    static const QHash<QString, QStringList> names{
        {QStringLiteral("Google Chrome"), {"google-chrome", "com.google.Chrome"}},
        {QStringLiteral("Claude (desktop app)"), {"claude-desktop", "claude"}},
        {QStringLiteral("Spotify"), {"spotify-client", "spotify", "com.spotify.Client"}},
        {QStringLiteral("Slack"), {"slack", "com.slack.Slack"}},
        {QStringLiteral("Microsoft Edge"), {"microsoft-edge", "com.microsoft.Edge"}},
        {QStringLiteral("Visual Studio Code"), {"code", "vscode", "com.visualstudio.code"}},
        {QStringLiteral("Mozilla Firefox"), {"firefox", "firefox-esr", "org.mozilla.firefox"}},
        {QStringLiteral("Chromium"), {"chromium", "chromium-browser", "org.chromium.Chromium"}},
        {QStringLiteral("Brave"), {"brave-browser", "com.brave.Browser"}},
        {QStringLiteral("Vivaldi"), {"vivaldi", "com.vivaldi.Vivaldi"}},
        {QStringLiteral("Opera"), {"opera", "com.opera.Opera"}},
        {QStringLiteral("GNOME Web"), {"org.gnome.Epiphany", "epiphany"}},
        {QStringLiteral("Thunderbird"), {"thunderbird", "org.mozilla.Thunderbird"}},
        {QStringLiteral("Discord"), {"discord", "com.discordapp.Discord"}},
        {QStringLiteral("Signal"), {"signal-desktop", "org.signal.Signal"}},
        {QStringLiteral("Element"), {"element-desktop", "im.riot.Riot"}},
        {QStringLiteral("Obsidian"), {"obsidian", "md.obsidian.Obsidian"}},
        {QStringLiteral("Steam shader caches"), {"steam", "com.valvesoftware.Steam"}},
        {QStringLiteral("File thumbnails"), {"folder-pictures", "image-x-generic"}},
        {QStringLiteral("Graphics shader caches"), {"video-display"}},
        {QStringLiteral("Go build cache"), {"text-x-go"}},
        {QStringLiteral("npm"), {"text-x-javascript"}},
        {QStringLiteral("Yarn"), {"yarn", "text-x-javascript"}},
        {QStringLiteral("pip"), {"text-x-python"}},
    };
    return names.value(rowName);
}

QIcon rowIcon(const QString& rowName) {
    for (const QString& name : rowIconNames(rowName)) {
        if (QIcon::hasThemeIcon(name)) return QIcon::fromTheme(name);
    }
    return QIcon::fromTheme(QStringLiteral("folder"));
}

}  // namespace sweepkin
