#pragma once
// The anonymous daily usage ping: one GET with six query items to the usage endpoint, at most once
// every 20 hours, reporting the panel openings and cleans counted since the last successful ping.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <span>

class QNetworkAccessManager;

namespace sweepkin {

class SettingsStore;

// Minimum time between two successful pings, measured from `lastHeartbeat`.
inline constexpr qint64 kUsagePingSpacingSeconds = 72'000;
inline constexpr int kUsagePingTimeoutMs = 15'000;

// XORs every byte of `table` with `key` and decodes the result as UTF-8. An empty table or bytes
// that are not well-formed UTF-8 give the empty string, which turns the ping off.
QString unscrambleEndpoint(std::span<const unsigned char> table, unsigned char key);

// The endpoint baked into this build (the SWEEPKIN_USAGE_ENDPOINT build setting), unscrambled.
QString builtInUsageEndpoint();

// "major.minor" from a version text such as "6.1.0-13-amd64" or "14.5.1"; a missing minor reads
// as 0 and an unreadable text as "0.0".
QString majorMinorVersion(const QString& versionText);

// The running operating system's version as "major.minor": the OS release where Qt knows one
// (macOS, Windows), otherwise the kernel release (Linux and the other Unixes).
QString operatingSystemMajorMinor();

struct UsagePingOptions {
    // Replaces the built-in endpoint (tests, private builds).
    std::optional<QString> endpoint;
    // The current time; the system clock when empty.
    std::function<QDateTime()> clock;
    // Used instead of an owned network manager when set; must outlive the ping.
    QNetworkAccessManager* network = nullptr;
    int transferTimeoutMs = kUsagePingTimeoutMs;
};

class UsagePing : public QObject {
    Q_OBJECT
  public:
    // `settings` must outlive this object. Lives on the main thread.
    // `appVersion` is what the ping reports as the program's version.
    UsagePing(SettingsStore& settings, QString appVersion, UsagePingOptions options = {},
              QObject* parent = nullptr);
    ~UsagePing() override;

    // Decides whether a ping is due and, if so, starts it and returns at once. The answer is
    // handled on this object's (main) thread: a status of 200 to 399 records the time and takes
    // the reported amounts off the counters; anything else changes nothing.
    void sendUsagePing();

  signals:
    // Emitted when a started ping has its answer (or failed); `recorded` tells whether it counted.
    void pingFinished(bool recorded);

  private:
    QDateTime now() const;

    SettingsStore& settings_;
    QString appVersion_;
    UsagePingOptions options_;
    QNetworkAccessManager* network_ = nullptr;
};

}  // namespace sweepkin
