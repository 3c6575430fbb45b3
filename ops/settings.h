#pragma once
// The persistent settings: one thread-safe wrapper over QSettings (organisation and application
// "Sweepkin"). A stored value of another kind than the key's reads as absent.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace sweepkin {

namespace keys {
inline constexpr const char* lastClean = "lastClean";                        // date
inline constexpr const char* ctPanelOpens = "ctPanelOpens";                  // integer
inline constexpr const char* ctCleans = "ctCleans";                          // integer
inline constexpr const char* lastHeartbeat = "lastHeartbeat";                // date
inline constexpr const char* installID = "installID";                        // string
inline constexpr const char* disableAnalytics = "disableAnalytics";          // boolean
inline constexpr const char* didInitialLoginSetup = "didInitialLoginSetup";  // boolean
inline constexpr const char* acceptedEULAv1 = "acceptedEULAv1";              // boolean
inline constexpr const char* disableWatch = "disableWatch";                  // boolean
inline constexpr const char* notifyBytes = "notifyBytes";                    // bytes; absent: 5 GB
inline constexpr const char* autoCleanDays = "autoCleanDays";                // days; 0: off
inline constexpr const char* lastNotice = "lastNotice";                      // date
inline constexpr const char* lastNoticeBytes = "lastNoticeBytes";            // integer
inline constexpr const char* untickedRows = "untickedRows";                  // list of row names
inline constexpr const char* seenRows = "seenRows";                          // list of row names
}  // namespace keys

class SettingsStore {
  public:
    // The user's store: INI under ~/.config/Sweepkin/Sweepkin.conf on Linux.
    SettingsStore();
    // A store in the given INI file (tests).
    explicit SettingsStore(const QString& iniPath);
    ~SettingsStore();

    bool boolValue(const char* key) const;                     // false when absent
    qint64 intValue(const char* key) const;                    // 0 when absent
    std::optional<qint64> optionalInt(const char* key) const;  // for keys whose default is not 0
    std::optional<QDateTime> dateValue(const char* key) const;
    std::optional<QString> stringValue(const char* key) const;
    QStringList stringList(const char* key) const;  // empty when absent

    void setBool(const char* key, bool value);
    void setInt(const char* key, qint64 value);
    void setDate(const char* key, const QDateTime& value);
    void setString(const char* key, const QString& value);
    void setStringList(const char* key, const QStringList& value);

    // Read, add, write under one lock: increments from several threads are never lost.
    qint64 increment(const char* key, qint64 delta = 1);
    // Lowers a counter by `amount`, never below 0, under the same lock.
    qint64 lowerCounter(const char* key, qint64 amount);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sweepkin
