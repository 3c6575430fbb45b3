#pragma once
// The persistent settings: one thread-safe wrapper over QSettings (organisation and application
// "Sweepkin"). A stored value of another kind than the key's reads as absent. Every write is
// checked: a file that cannot be written, or that could not be parsed when the store was opened,
// is a problem the panel shows and the log records, and no scheduled clean runs while it lasts.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
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
inline constexpr const char* untickedRows = "untickedRows";                  // list of row ids
inline constexpr const char* seenRows = "seenRows";                          // list of row ids
inline constexpr const char* autoCleanStarted = "autoCleanStarted";          // date
}  // namespace keys

// The values a scheduled clean may be set to; anything else stored is taken as off.
inline constexpr qint64 kAutoCleanChoices[] = {0, 7, 30};

class SettingsStore {
  public:
    // The user's store: INI under ~/.config/Sweepkin/Sweepkin.conf on Linux.
    SettingsStore();
    // A store in the given INI file (tests).
    explicit SettingsStore(const QString& iniPath);
    // The user's store for reading only (the command-line listings): a file that cannot be
    // parsed is not copied aside, only distrusted. Nothing is written through it.
    struct ReadOnly {};
    explicit SettingsStore(ReadOnly);
    ~SettingsStore();

    // The file behind the store.
    QString filePath() const;
    // Where the file was copied aside because it could not be parsed when the store was opened.
    std::optional<QString> brokenCopy() const;
    // It could not be parsed when the store was opened (copied aside or not).
    bool damaged() const;
    // One line naming the file and what is wrong: it could not be written at the last write, or
    // it could not be parsed when opened. Cleared by the next write that succeeds.
    std::optional<QString> problem() const;
    // True while a change of the row lists could not be saved.
    bool ticksUnsaved() const;
    // False from opening a file that could not be parsed until the row lists are written anew.
    bool rowListsTrusted() const;
    // Called (on the writing thread) whenever problem() takes a new value other than none.
    void setProblemListener(std::function<void(const QString& problem)> listener);

    bool contains(const char* key) const;
    bool boolValue(const char* key) const;  // false when absent
    // true/false or 1/0 in any case; absent or anything else: none.
    std::optional<bool> optionalBool(const char* key) const;
    qint64 intValue(const char* key) const;                    // 0 when absent
    std::optional<qint64> optionalInt(const char* key) const;  // for keys whose default is not 0
    std::optional<QDateTime> dateValue(const char* key) const;
    std::optional<QString> stringValue(const char* key) const;
    QStringList stringList(const char* key) const;  // empty when absent
    // A list of row ids (lowercase words joined by hyphens): empty when absent, none when the
    // value is of another kind or holds anything else.
    std::optional<QStringList> rowList(const char* key) const;

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

// The watch is off when `disableWatch` is true, and also when it holds anything but a boolean.
bool watchDisabled(const SettingsStore& settings);
// `autoCleanDays` as a scheduled clean takes it: one of kAutoCleanChoices, else 0 (off).
qint64 autoCleanDays(const SettingsStore& settings);
// Whether the stored `autoCleanDays` is present but not one of kAutoCleanChoices.
bool autoCleanDaysInvalid(const SettingsStore& settings);
// Whether `text` is a row id: lowercase letters and digits in words joined by single hyphens.
bool isRowId(const QString& text);

}  // namespace sweepkin
