// The check for a newer version: the information file names the address of
// a published property list; a different "CFBundleShortVersionString" there
// offers the updater that lies beside the installation.
#include "app/update_check.h"

#include "app/Tolvik_Repair_MOVAppDelegate.h"
#include "app/bundle_info.h"
#include "app/main_window.h"
#include "app/ui_prompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkInformation>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTimer>

namespace arbel {

namespace {

bool isWebScheme(const QUrl& url) {
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

constexpr int kMaxRedirects = 5;

}  // namespace

std::optional<QByteArray> fetchVersionList(const QUrl& address, std::chrono::milliseconds timeout, qint64 maxBytes) {
    if (!address.isValid() || !isWebScheme(address)) return std::nullopt;

    QNetworkAccessManager manager;
    QNetworkRequest request(address);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    QNetworkReply* reply = manager.get(request);

    QByteArray body;
    bool failed = false;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    auto fail = [&] {
        failed = true;
        reply->abort();
    };
    QObject::connect(&deadline, &QTimer::timeout, reply, fail);
    QObject::connect(reply, &QNetworkReply::redirected, reply, [&](const QUrl& target) {
        if (isWebScheme(target)) emit reply->redirectAllowed();
        else fail();
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maxBytes) fail();
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
        body += reply->read(maxBytes + 1 - body.size());
        if (body.size() > maxBytes) fail();
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    deadline.start(timeout);
    if (!reply->isFinished()) loop.exec();

    if (!failed && reply->bytesAvailable() > 0) {
        body += reply->read(maxBytes + 1 - body.size());
        if (body.size() > maxBytes) failed = true;
    }
    const bool ok = !failed && reply->error() == QNetworkReply::NoError;
    delete reply;
    if (!ok) return std::nullopt;
    return body;
}

QUrl versionListAddress(const QString& cloudPlistUrl) {
    QString address = cloudPlistUrl;
    address.replace(QLatin1Char(' '), QLatin1String("%20"));
    return QUrl(address, QUrl::StrictMode);
}

bool machineIsOnline() {
    if (!QNetworkInformation::instance() &&
        !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return true;
    const QNetworkInformation::Reachability reachability = QNetworkInformation::instance()->reachability();
    return reachability != QNetworkInformation::Reachability::Disconnected;
}

QString defaultUpdaterPath() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../.autoUpd"));
}

bool Tolvik_Repair_MOVAppDelegate::checkForUpdate() {
    readBundleIdentifier(infoPlistPath);
    if (isOnline && !isOnline()) return false;

    const std::optional<std::string> cloudPlistUrl = readInfoPlistString(infoPlistPath, "cloudPlistUrl");
    if (!cloudPlistUrl || cloudPlistUrl->empty()) return false;
    const std::optional<QByteArray> list =
        fetchVersionList(versionListAddress(QString::fromStdString(*cloudPlistUrl)), updateFetchTimeout);
    if (!list) return false;

    const std::optional<std::string> remote = plistDictString(list->toStdString(), "CFBundleShortVersionString");
    const std::optional<std::string> local = readInfoPlistString(infoPlistPath, "CFBundleShortVersionString");
    return remote && local && *remote != *local;
}

void Tolvik_Repair_MOVAppDelegate::checkForUpdateClicked(QObject* sender) {
    if (checkForUpdate()) {
        const bool no = prompts_->alternatePanel(
            window_.get(), QStringLiteral("A newer version of Arbel Video Repair is available"),
            QStringLiteral("Do you want to update"), QStringLiteral("YES"), QStringLiteral("NO"));
        if (no) return;
    } else if (!sender) {
        return;
    }
    // A missing updater fails silently.
    if (launchUpdater) launchUpdater(updaterPath);
}

}  // namespace arbel
