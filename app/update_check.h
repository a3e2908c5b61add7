#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

namespace arbel {

// The most a published version list may hold; anything longer is not one.
constexpr qint64 kMaxVersionListBytes = 64 * 1024;

// Fetches the body at an http(s) address in a local event loop, so the
// window keeps drawing and its timers keep firing. Nothing when the address
// is not http(s), the server answers with an error, a redirect leads to
// another scheme, the body grows past maxBytes or the whole fetch takes
// longer than timeout.
std::optional<QByteArray> fetchVersionList(const QUrl& address, std::chrono::milliseconds timeout,
                                           qint64 maxBytes = kMaxVersionListBytes);

// The address of the published list as the information file gives it,
// every blank made "%20".
QUrl versionListAddress(const QString& cloudPlistUrl);

// Whether the machine is online, as far as the platform can tell; true when
// it cannot tell (the fetch then fails on its own when offline).
bool machineIsOnline();

// The updater lies beside the installation: PREFIX/.autoUpd for a program
// in PREFIX/bin.
QString defaultUpdaterPath();

}  // namespace arbel
