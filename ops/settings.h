#pragma once
// The persistent settings: one thread-safe wrapper over QSettings (organisation and application
// "Sweepkin"). A stored value of another kind than the key's reads as absent.

#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>

namespace sweepkin {

namespace keys {
inline constexpr const char* lastClean = "lastClean";                     // date
inline constexpr const char* ctPanelOpens = "ctPanelOpens";               // integer
inline constexpr const char* ctCleans = "ctCleans";                       // integer
inline constexpr const char* lastHeartbeat = "lastHeartbeat";             // date
inline constexpr const char* installID = "installID";                     // string
inline constexpr const char* disableAnalytics = "disableAnalytics";       // boolean
inline constexpr const char* didInitialLoginSetup = "didInitialLoginSetup";  // boolean
inline constexpr const char* acceptedEULAv1 = "acceptedEULAv1";           // boolean
}  // namespace keys

class SettingsStore {
public:
    // The user's store: INI under ~/.config/Sweepkin/Sweepkin.conf on Linux.
    SettingsStore();
    // A store in the given INI file (tests).
    explicit SettingsStore(const QString& iniPath);
    ~SettingsStore();

    bool boolValue(const char* key) const;                  // false when absent
    qint64 intValue(const char* key) const;                 // 0 when absent
    std::optional<QDateTime> dateValue(const char* key) const;
    std::optional<QString> stringValue(const char* key) const;

    void setBool(const char* key, bool value);
    void setInt(const char* key, qint64 value);
    void setDate(const char* key, const QDateTime& value);
    void setString(const char* key, const QString& value);

    // Read, add, write under one lock: increments from several threads are never lost.
    qint64 increment(const char* key, qint64 delta = 1);
    // Lowers a counter by `amount`, never below 0, under the same lock.
    qint64 lowerCounter(const char* key, qint64 amount);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sweepkin
