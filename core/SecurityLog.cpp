#include "core/SecurityLog.h"

#include "core/Json.h"
#include "core/SerialQueue.h"
#include "platform/Crypto.h"
#include "platform/PrivateFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QtEndian>

#include <cstdio>
#include <future>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

// ---- AuditEntry --------------------------------------------------------------

namespace {

QJsonArray byteArrayToJson(const QByteArray& bytes) {
    QJsonArray array;
    for (char c : bytes)
        array.append(int(quint8(c)));
    return array;
}

std::optional<QByteArray> byteArrayFromJson(const QJsonValue& value) {
    if (!value.isArray()) return std::nullopt;
    const QJsonArray array = value.toArray();
    QByteArray bytes;
    bytes.reserve(array.size());
    for (const QJsonValue& element : array) {
        const auto number = Json::toInt64(element);
        if (!number || *number < 0 || *number > 255) return std::nullopt;
        bytes.append(char(quint8(*number)));
    }
    return bytes;
}


} // namespace

QByteArray AuditEntry::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("seq"), Json::fromUInt64(seq));
    object.insert(QStringLiteral("unixMillis"), unixMillis);
    object.insert(QStringLiteral("type"), type);
    object.insert(QStringLiteral("detail"), detail);
    object.insert(QStringLiteral("prevHash"), byteArrayToJson(prevHash));
    object.insert(QStringLiteral("hash"), byteArrayToJson(hash));
    return Json::serialize(QJsonDocument(object));
}

std::optional<AuditEntry> AuditEntry::fromJson(const QByteArray& line) {
    const auto document = Json::parse(line);
    if (!document || !document->isObject()) return std::nullopt;
    const QJsonObject object = document->object();
    const auto seq = Json::toUInt64(object.value(QLatin1String("seq")));
    const auto unixMillis = Json::toInt64(object.value(QLatin1String("unixMillis")));
    const auto type = Json::toString(object.value(QLatin1String("type")));
    const auto detail = Json::toString(object.value(QLatin1String("detail")));
    const auto prevHash = byteArrayFromJson(object.value(QLatin1String("prevHash")));
    const auto hash = byteArrayFromJson(object.value(QLatin1String("hash")));
    if (!seq || !unixMillis || !type || !detail || !prevHash || !hash) return std::nullopt;
    return AuditEntry{*seq, *unixMillis, *type, *detail, *prevHash, *hash};
}

// ---- AuditLog ----------------------------------------------------------------

namespace AuditLog {

QByteArray genesis() {
    return QByteArray(32, '\0');
}

QByteArray hash(quint64 seq, qint64 unixMillis, const QString& type, const QString& detail,
                const QByteArray& prevHash) {
    const QByteArray typeBytes = type.toUtf8();
    const QByteArray detailBytes = detail.toUtf8();
    QByteArray input;
    input.reserve(18 + typeBytes.size() + detailBytes.size() + prevHash.size());
    char number[8];
    qToBigEndian(seq, number);
    input.append(number, 8);
    qToBigEndian(quint64(unixMillis), number); // two's complement
    input.append(number, 8);
    input.append(typeBytes);
    input.append('\x1f');
    input.append(detailBytes);
    input.append('\x1f');
    input.append(prevHash);
    return Crypto::sha256(input);
}

AuditEntry makeEntry(const QList<AuditEntry>& chain, const QString& type, const QString& detail,
                     qint64 unixMillis) {
    AuditEntry entry;
    entry.seq = quint64(chain.size());
    entry.unixMillis = unixMillis;
    entry.type = type;
    entry.detail = detail;
    entry.prevHash = chain.isEmpty() ? genesis() : chain.constLast().hash;
    entry.hash = hash(entry.seq, unixMillis, type, detail, entry.prevHash);
    return entry;
}

bool verify(const QList<AuditEntry>& chain) {
    QByteArray expected = genesis();
    for (qsizetype i = 0; i < chain.size(); ++i) {
        const AuditEntry& entry = chain.at(i);
        if (entry.seq != quint64(i) || entry.prevHash != expected) return false;
        if (hash(entry.seq, entry.unixMillis, entry.type, entry.detail, entry.prevHash) !=
            entry.hash)
            return false;
        expected = entry.hash;
    }
    return true;
}

QString redact(const QString& text) {
    static const QRegularExpression digitRun(QStringLiteral("[0-9]{4,}"));
    if (!digitRun.isValid()) return text;
    return QString(text).replace(digitRun, QString(6, QChar(0x2022)));
}

} // namespace AuditLog

// ---- SecurityEvent -------------------------------------------------------------

QString SecurityEvent::type() const {
    switch (kind) {
    case accountAdded:
        return QStringLiteral("account.added");
    case accountsImported:
        return QStringLiteral("account.imported");
    case accountEdited:
        return QStringLiteral("account.edited");
    case accountDeleted:
        return QStringLiteral("account.deleted");
    case accountRestored:
        return QStringLiteral("account.restored");
    case accountErased:
        return QStringLiteral("account.erased");
    case passkeyDeleted:
        return QStringLiteral("passkey.deleted");
    case backupExported:
        return QStringLiteral("backup.exported");
    }
    return {};
}

QString SecurityEvent::detail() const {
    switch (kind) {
    case accountsImported:
        // A count is not an account number; masking it would hide the only
        // information the entry carries.
        return QString::number(count) + QStringLiteral(" accounts");
    case passkeyDeleted:
        return text;
    case backupExported:
        return {};
    case accountAdded:
    case accountEdited:
    case accountDeleted:
    case accountRestored:
    case accountErased:
        break;
    }
    // Labels often hold phone or customer numbers; the timeline only needs to
    // say which account it was.
    return AuditLog::redact(text);
}

// ---- SecurityLog ---------------------------------------------------------------

namespace {

// Writes all of data at the end of the descriptor, resuming after partial
// writes and signals. False on any other error.
bool writeAll(int fd, const QByteArray& data) {
    const char* cursor = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, cursor, size_t(left));
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        cursor += written;
        left -= written;
    }
    return true;
}

enum class ReadResult { ok, missing, failed };

ReadResult readWholeFile(const QString& path, QByteArray& out) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadResult::missing : ReadResult::failed;
    char buffer[65536];
    ReadResult result = ReadResult::ok;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            result = ReadResult::failed;
            break;
        }
        if (got == 0) break;
        out.append(buffer, got);
    }
    ::close(fd);
    return result;
}

} // namespace

struct SecurityLog::Worker {
    explicit Worker(QString filePath) : path(std::move(filePath)) {}

    ~Worker() {
        queue.waitForIdle();
        if (!unwritten.isEmpty())
            std::fprintf(stderr, "Quillet: %lld security timeline events could not be written\n",
                         static_cast<long long>(unwritten.size()));
    }

    // ---- everything below runs on the queue only ----

    // Only the user may list the folder: the timeline tells what they keep.
    void ensureFolder() const { PrivateFolder::ensure(QFileInfo(path).absolutePath()); }

    void loadIfNeeded() {
        if (loaded) return;
        loaded = true; // a failed read is not retried in this process
        ensureFolder();
        QByteArray bytes;
        switch (readWholeFile(path, bytes)) {
        case ReadResult::missing:
            return;
        case ReadResult::failed:
            healthy = false;
            return;
        case ReadResult::ok:
            break;
        }
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                      QStringDecoder::Flag::ConvertInitialBom);
        const QString text = utf8.decode(bytes); // decoded only to be validated
        if (utf8.hasError()) {
            healthy = false;
            return;
        }
        // A line feed byte only ever stands for itself in UTF-8, so splitting
        // the bytes gives the same lines as splitting the text.
        QList<AuditEntry> entries;
        for (const QByteArray& line : bytes.split('\n')) {
            if (line.isEmpty()) continue;
            if (auto entry = AuditEntry::fromJson(line)) entries.append(std::move(*entry));
        }
        chain = std::move(entries);
        if (!AuditLog::verify(chain)) healthy = false;
    }

    // An event waiting for its line to reach the disk.
    struct Unwritten {
        QString type;
        QString detail;
        qint64 unixMillis;
    };

    void record(const SecurityEvent& event) {
        loadIfNeeded();
        if (!healthy) return; // a broken timeline is frozen; nothing may be added to it
        // Through UTF-8 and back, so that the entry kept here is the one a
        // later launch reads from the file even for text with lone surrogates.
        unwritten.append({QString::fromUtf8(event.type().toUtf8()),
                          QString::fromUtf8(event.detail().toUtf8()),
                          QDateTime::currentMSecsSinceEpoch()});
        // Earlier events whose write failed go first, in their order; the
        // chain only grows by lines that are on the disk, so a failed write
        // never leaves the file and the chain apart.
        while (!unwritten.isEmpty()) {
            const Unwritten& next = unwritten.constFirst();
            const AuditEntry entry =
                AuditLog::makeEntry(chain, next.type, next.detail, next.unixMillis);
            if (!appendLine(entry)) break;
            chain.append(entry);
            unwritten.removeFirst();
        }
        // A disk that stays full must not make memory grow without end: the
        // oldest waiting events give way, which the next launch shows as
        // fewer events, never as a broken chain.
        while (unwritten.size() > maxUnwritten) unwritten.removeFirst();
    }

    // Adds the line at the end of the file and flushes it to the disk. On a
    // failure the file is cut back to its length before, so that no part of
    // the line stays behind to be mistaken for an entry; only the bytes this
    // call added are ever cut. Nothing else truncates or rewrites the file.
    bool appendLine(const AuditEntry& entry) {
        const QByteArray line = entry.toJson() + '\n';
        ensureFolder();
        const QByteArray name = QFile::encodeName(path);
        int fd = ::open(name.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        bool canRead = true;
        if (fd < 0 && errno == EACCES) {
            // A write-only file can still be appended to; without reading
            // its last byte the torn-line check is skipped.
            fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
            canRead = false;
        }
        if (fd < 0) return false;
        QByteArray out;
        const off_t length = ::lseek(fd, 0, SEEK_END);
        if (length < 0) {
            // Unknown length: a blank line is harmless on load, while a new
            // entry glued to a torn one would be lost.
            out.append('\n');
        } else if (length > 0 && canRead) {
            char last = 0;
            ssize_t got;
            do
                got = ::pread(fd, &last, 1, length - 1);
            while (got < 0 && errno == EINTR);
            if (got == 1 && last != '\n')
                out.append('\n'); // ends a line torn by an earlier crash
        }
        out.append(line);
        // One write for repair and entry keeps the window for a new torn line
        // as small as possible.
        bool written = writeAll(fd, out);
        if (written) {
            int flushed;
            do
                flushed = ::fdatasync(fd);
            while (flushed != 0 && errno == EINTR);
            // EINVAL: a file that cannot be flushed (a pipe), where the write
            // is all there is to do.
            written = flushed == 0 || errno == EINVAL;
        }
        if (!written && length >= 0) {
            int cut;
            do
                cut = ::ftruncate(fd, length);
            while (cut != 0 && errno == EINTR);
        }
        if (::close(fd) != 0 && errno != EINTR) written = false;
        return written;
    }

    SecurityLog::Snapshot snapshot() {
        loadIfNeeded();
        return {chain, healthy && AuditLog::verify(chain), int(unwritten.size())};
    }

    static constexpr qsizetype maxUnwritten = 10000;

    const QString path;
    // Owned by the queue.
    QList<AuditEntry> chain;
    QList<Unwritten> unwritten;
    bool loaded = false;
    bool healthy = true;
    // Last: destroyed first, so its thread stops before the state above goes.
    SerialQueue queue;
};

SecurityLog& SecurityLog::shared() {
    // Lives as long as the process: its worker must not stop while static
    // destruction tears down the libraries it uses. The program waits for it
    // to go idle before it exits (waitForIdle), so no event is lost.
    static SecurityLog* log = new SecurityLog(defaultPath());
    return *log;
}

QString SecurityLog::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quillet/security-timeline.jsonl");
}

SecurityLog::SecurityLog(QString path) : m_worker(std::make_unique<Worker>(std::move(path))) {
}

SecurityLog::~SecurityLog() = default;

void SecurityLog::record(const SecurityEvent& event) {
    Worker* worker = m_worker.get();
    worker->queue.enqueue([worker, event] { worker->record(event); });
}

SecurityLog::Snapshot SecurityLog::snapshot() {
    Worker* worker = m_worker.get();
    // Waiting for our own queue would never end.
    if (worker->queue.onQueue()) return worker->snapshot();
    std::promise<Snapshot> result;
    std::future<Snapshot> future = result.get_future();
    worker->queue.enqueue([worker, &result] { result.set_value(worker->snapshot()); });
    return future.get();
}

void SecurityLog::waitForIdle() {
    m_worker->queue.waitForIdle();
}

QString SecurityLog::path() const {
    return m_worker->path;
}
