#pragma once

// larkspur-host as the browser's plugin runs it: one request on its standard
// input, the outcome on its standard output. A test program that uses it
// defines LARKSPUR_HOST_PATH.

#include "core/Json.h"
#include "tests/support/TestMain.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QUuid>
#include <functional>

namespace TestSupport {

// A request for a one-time code through `entry`; without a record when
// recordIdentifier is undefined, and as it is when it is not a valid one.
inline QJsonObject codeRequest(const QString& entry, const QJsonValue& recordIdentifier) {
    QJsonObject request{{"kind", "oneTimeCode"}};
    if (!recordIdentifier.isUndefined()) request.insert("recordIdentifier", recordIdentifier);
    return {{"entry", entry}, {"request", request}};
}

inline QJsonObject codeRequest(const QString& entry, const QUuid& record) {
    return codeRequest(entry, Json::uuidText(record));
}

struct HostRun {
    int status = -1; // the exit status; -1 when the host crashed or did not end
    QByteArray out;
    QByteArray err;
    qint64 milliseconds = 0;
};

// Runs one host to its end in the environment given; `user`, given the
// host's process id, acts in its window meanwhile.
inline HostRun
runHost(const QJsonObject& request,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
        const std::function<void(qint64)>& user = {}) {
    QProcess host;
    host.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    host.start(QStringLiteral(LARKSPUR_HOST_PATH), {});
    host.write(QJsonDocument(request).toJson());
    // Written before `user` runs: nothing pumps the channel while it waits.
    host.waitForBytesWritten(QUILLET_TEST_WAIT_MS);
    host.closeWriteChannel();
    if (user && host.waitForStarted()) user(host.processId());
    const bool ended = host.waitForFinished(QUILLET_TEST_WAIT_MS);
    if (!ended) {
        host.kill();
        host.waitForFinished();
    }
    return {ended && host.exitStatus() == QProcess::NormalExit ? host.exitCode() : -1,
            host.readAllStandardOutput(), host.readAllStandardError(), timer.elapsed()};
}

} // namespace TestSupport
