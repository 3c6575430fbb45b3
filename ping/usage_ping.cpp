#include "ping/usage_ping.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QOperatingSystemVersion>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QSysInfo>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>

#include "ops/settings.h"
#include "usage_endpoint_table.h"

namespace sweepkin {

QString unscrambleEndpoint(std::span<const unsigned char> table, unsigned char key) {
    if (table.empty()) return {};
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(table.size()));
    for (unsigned char b : table) bytes.append(static_cast<char>(b ^ key));
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError()) return {};
    return text;
}

QString builtInUsageEndpoint() {
    return unscrambleEndpoint(generated::kUsageEndpointTable, generated::kUsageEndpointKey);
}

QString majorMinorVersion(const QString& versionText) {
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d+)(?:\\.(\\d+))?"));
    const QRegularExpressionMatch match = pattern.match(versionText);
    if (!match.hasMatch()) return QStringLiteral("0.0");
    bool ok = false;
    const qulonglong major = match.captured(1).toULongLong(&ok);
    if (!ok) return QStringLiteral("0.0");
    const qulonglong minor = match.captured(2).isEmpty() ? 0 : match.captured(2).toULongLong(&ok);
    if (!ok) return QStringLiteral("0.0");
    return QStringLiteral("%1.%2").arg(major).arg(minor);
}

QString operatingSystemMajorMinor() {
    const QOperatingSystemVersion os = QOperatingSystemVersion::current();
    if (os.type() != QOperatingSystemVersion::Unknown && os.majorVersion() >= 0) {
        return QStringLiteral("%1.%2").arg(os.majorVersion()).arg(qMax(0, os.minorVersion()));
    }
    // Distribution versions have no common shape ("12", "22.04", "rolling"); the kernel release
    // always reads major.minor.patch.
    return majorMinorVersion(QSysInfo::kernelVersion());
}

namespace {

// Only an absolute http(s) address with a host can receive the ping.
std::optional<QUrl> parseEndpoint(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty()) return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) return std::nullopt;
    return url;
}

}  // namespace

UsagePing::UsagePing(SettingsStore& settings, QString appVersion, UsagePingOptions options,
                     QObject* parent)
    : QObject(parent),
      settings_(settings),
      appVersion_(std::move(appVersion)),
      options_(std::move(options)) {
    network_ = options_.network != nullptr ? options_.network : new QNetworkAccessManager(this);
}

UsagePing::~UsagePing() = default;

QDateTime UsagePing::now() const {
    return options_.clock ? options_.clock() : QDateTime::currentDateTimeUtc();
}

void UsagePing::sendUsagePing() {
    const QString endpoint = options_.endpoint ? *options_.endpoint : builtInUsageEndpoint();
    if (endpoint.isEmpty()) return;
    if (settings_.boolValue(keys::disableAnalytics)) return;
    const std::optional<QUrl> endpointUrl = parseEndpoint(endpoint);
    if (!endpointUrl) return;

    // A heartbeat in the future (clock set back) also holds the ping until 20 hours past it.
    if (const std::optional<QDateTime> last = settings_.dateValue(keys::lastHeartbeat)) {
        if (last->secsTo(now()) < kUsagePingSpacingSeconds) return;
    }

    QString installID = settings_.stringValue(keys::installID).value_or(QString());
    if (installID.isEmpty()) {
        installID = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        settings_.setString(keys::installID, installID);
    }

    const qint64 opens = settings_.intValue(keys::ctPanelOpens);
    const qint64 cleans = settings_.intValue(keys::ctCleans);

    QUrlQuery query;
    query.addQueryItem(QStringLiteral("id"), installID);
    query.addQueryItem(QStringLiteral("v"), appVersion_);
    query.addQueryItem(QStringLiteral("os"), operatingSystemMajorMinor());
    query.addQueryItem(QStringLiteral("opens"), QString::number(opens));
    query.addQueryItem(QStringLiteral("fixes"), QString::number(cleans));
    query.addQueryItem(QStringLiteral("app"), QStringLiteral("swk"));
    QUrl url = *endpointUrl;
    url.setQuery(query);
    if (!url.isValid()) return;

    QNetworkRequest request(url);
    request.setTransferTimeout(options_.transferTimeoutMs);
    QNetworkReply* reply = network_->get(request);

    // The reply reports on this object's thread, so the counters are lowered on the main thread
    // between the increments made there: an opening counted during the request is never lost.
    connect(reply, &QNetworkReply::finished, this, [this, reply, opens, cleans] {
        reply->deleteLater();
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const int code = status.isValid() ? status.toInt() : 0;
        // A transfer cut off after the status line (timeout, dropped connection) did not reach
        // the service intact, so only a completed answer counts.
        const bool recorded =
            code >= 200 && code <= 399 && reply->error() == QNetworkReply::NoError;
        if (recorded) {
            settings_.setDate(keys::lastHeartbeat, now());
            settings_.lowerCounter(keys::ctPanelOpens, opens);
            settings_.lowerCounter(keys::ctCleans, cleans);
        }
        emit pingFinished(recorded);
    });
}

}  // namespace sweepkin
