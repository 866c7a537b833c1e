#include "Kelto_Sync/Settings/UpdateFeed.h"

#include "Kelto_Sync/Settings/UpdateWindow.h"
#include "SyncModel/Support/Clock.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSettings>
#include <QTimer>
#include <QUrl>
#include <QVersionNumber>

namespace kelto {
namespace {

const QString automaticKey = QStringLiteral("updates.automatic");
const QString lastCheckKey = QStringLiteral("updates.lastCheck");

}  // namespace

UpdateFeed::UpdateFeed(QString feedURL, QString version, QString build, const Clock& clock, QObject* parent)
    : QObject(parent),
      feed_(QUrl(feedURL.trimmed())),
      version_(std::move(version)),
      build_(std::move(build)),
      clock_(clock),
      wake_(new QTimer(this)) {
    wake_->setInterval(wakeMilliseconds);
    connect(wake_, &QTimer::timeout, this, &UpdateFeed::checkIfDue);
}

UpdateFeed::~UpdateFeed() = default;

bool UpdateFeed::automaticallyChecksForUpdates() const {
    return QSettings().value(automaticKey, false).toBool();
}

void UpdateFeed::setAutomaticallyChecksForUpdates(bool on) {
    QSettings().setValue(automaticKey, on);
    if (on) checkIfDue();
}

void UpdateFeed::startUpdater() {
    if (started_) return;
    started_ = true;
    wake_->start();
    emit canCheckForUpdatesChanged(canCheckForUpdates());
    checkIfDue();
}

void UpdateFeed::checkForUpdates() {
    if (canCheckForUpdates()) check(true);
}

void UpdateFeed::checkIfDue() {
    if (!canCheckForUpdates() || !automaticallyChecksForUpdates()) return;
    const QVariant last = QSettings().value(lastCheckKey);
    const double since = clock_.now().sinceReference - last.toDouble();
    // A check stamped ahead of the clock (set back since) holds nothing back.
    if (last.isValid() && since >= 0 && since < checkInterval) return;
    check(false);
}

void UpdateFeed::check(bool userInitiated) {
    if (!feed_.isValid() || feed_.isEmpty()) {
        finish(UpdateCheckResult::noFeed(), userInitiated);
        return;
    }
    setChecking(true);
    if (network_ == nullptr) network_ = new QNetworkAccessManager(this);
    QNetworkRequest request(feed_);
    request.setTransferTimeout(30'000);
    QNetworkReply* reply = network_->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply, userInitiated] {
        reply->deleteLater();
        UpdateCheckResult result;
        if (reply->error() != QNetworkReply::NoError) {
            result = UpdateCheckResult::failed(reply->errorString());
        } else {
            result = parse(reply->readAll(), version_, build_);
        }
        setChecking(false);
        finish(result, userInitiated);
    });
}

void UpdateFeed::finish(const UpdateCheckResult& result, bool userInitiated) {
    if (result.kind != UpdateCheckResult::Kind::noFeed) {
        QSettings().setValue(lastCheckKey, clock_.now().sinceReference);
    }
    emit checked(result, userInitiated);
    // Automatic checks only speak of an update.
    if (present_ && (userInitiated || result.kind == UpdateCheckResult::Kind::available)) present_(result);
}

void UpdateFeed::setChecking(bool checking) {
    const bool before = canCheckForUpdates();
    checking_ = checking;
    if (before != canCheckForUpdates()) emit canCheckForUpdatesChanged(canCheckForUpdates());
}

void UpdateFeed::presentWindow(const UpdateCheckResult& result) {
    auto* window = new UpdateWindow(result);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    window->raise();
    window->activateWindow();
}

bool UpdateFeed::isNewer(const QString& version, const QString& build, const QString& currentVersion,
                         const QString& currentBuild) {
    const int order = QVersionNumber::compare(QVersionNumber::fromString(version),
                                              QVersionNumber::fromString(currentVersion));
    if (order != 0) return order > 0;
    bool feedNumeric = false;
    bool currentNumeric = false;
    const qlonglong feedBuild = build.toLongLong(&feedNumeric);
    const qlonglong ours = currentBuild.toLongLong(&currentNumeric);
    return feedNumeric && currentNumeric && feedBuild > ours;
}

UpdateCheckResult UpdateFeed::parse(const QByteArray& json, const QString& currentVersion,
                                    const QString& currentBuild) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        return UpdateCheckResult::failed(error.errorString());
    }
    const QJsonObject feed = document.object();
    const QString version = feed.value(QStringLiteral("version")).toString();
    const QString link = feed.value(QStringLiteral("url")).toString();
    if (!document.isObject() || QVersionNumber::fromString(version).isNull() || link.isEmpty()) {
        return UpdateCheckResult::failed(QStringLiteral("The update feed has no version or link."));
    }
    const QString build = feed.value(QStringLiteral("build")).toVariant().toString();
    if (!isNewer(version, build, currentVersion, currentBuild)) return UpdateCheckResult::upToDate();
    // The link is opened on a click: only a web page, never a local file or
    // another program's scheme.
    const QUrl url(link, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http"))) {
        return UpdateCheckResult::failed(QStringLiteral("The update feed's link is not a web address."));
    }
    return UpdateCheckResult::available(version, build, link);
}

}  // namespace kelto
