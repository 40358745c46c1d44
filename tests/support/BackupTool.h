#pragma once

// The independent reader and writer of backup files (tests/intake/backup_tool.py,
// Python with python3-cryptography), run as a separate process.
#include <QFile>
#include <QProcess>
#include <QStringList>

namespace TestSupport {

inline QString python() {
    // Debian's interpreter is the one that python3-cryptography installs into.
    return QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                             : QStringLiteral("python3");
}

// Whether the tool can run here at all.
inline bool backupToolAvailable() {
    return QProcess::execute(python(),
                             {"-c", "import cryptography.hazmat.primitives.ciphers.aead"}) == 0;
}

// Runs the tool ("decrypt BACKUP" or "encrypt ACCOUNTS OUT") with the password
// on its standard input. What it prints holds secrets: compare it, never
// print it.
inline QByteArray runBackupTool(const QStringList& arguments, const QString& password,
                                int* exitCode) {
    QProcess tool;
    tool.start(python(),
               QStringList{QStringLiteral(QUILLET_SOURCE_DIR "/tests/intake/backup_tool.py")} +
                   arguments);
    tool.write(password.toUtf8() + '\n');
    tool.closeWriteChannel();
    tool.waitForFinished(60000);
    *exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    return tool.readAllStandardOutput();
}

} // namespace TestSupport
