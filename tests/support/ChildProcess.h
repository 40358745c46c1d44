#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

namespace TestSupport {

// Runs this test program again with the arguments, for the tests that need a
// second process (its main() takes the child's part), waiting up to a minute.
// The child's exit code, or -1 when it crashed or did not finish; what it
// printed on standard output goes to `output`.
inline int runSelf(const QStringList& args, QByteArray* output = nullptr,
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), args);
    if (!process.waitForFinished(60000))
        return -1;
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace TestSupport
