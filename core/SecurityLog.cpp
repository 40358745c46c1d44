#include "core/SecurityLog.h"

#include "core/Json.h"
#include "core/SerialQueue.h"
#include "platform/crypto/Crypto.h"
#include "platform/files/PrivateFolder.h"
#include "platform/files/RegularFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtEndian>

#include <cstdio>
#include <future>
#include <system_error>
#include <thread>
#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
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

namespace {

// Whether the entry stands at position index after an entry whose hash is
// previous, and its own hash is the hash of its content.
bool follows(const AuditEntry& entry, qsizetype index, const QByteArray& previous) {
    return entry.seq == quint64(index) && entry.prevHash == previous &&
           hash(entry.seq, entry.unixMillis, entry.type, entry.detail, entry.prevHash) ==
               entry.hash;
}

// Could the line be the JSON of an entry? The parser is not asked about
// lines that cannot, so that a file of many short lines of junk reads
// quickly: the shortest entry, {"seq":0,"unixMillis":0,"type":"",...}, is 70
// bytes long.
bool mayBeEntry(QByteArrayView line) {
    const QByteArrayView trimmed = line.trimmed();
    return trimmed.size() >= 70 && trimmed.startsWith('{') && trimmed.endsWith('}');
}

// The lines of a piece of a timeline, decoded; numbers count from 1 at the
// piece's first line.
struct DecodedLines {
    qint64 lines = 0;
    QList<std::pair<qint64, AuditEntry>> entries; // with their line's number
    qint64 firstJunk = 0; // the first line that is not blank and not an entry; 0: none
};

DecodedLines decodeLines(QByteArrayView bytes) {
    DecodedLines decoded;
    for (qsizetype start = 0; start < bytes.size();) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0) end = bytes.size();
        const qint64 number = ++decoded.lines;
        const QByteArrayView line = bytes.sliced(start, end - start);
        start = end + 1;
        if (line.isEmpty()) continue; // the appender's harmless blank line
        std::optional<AuditEntry> entry;
        if (mayBeEntry(line))
            entry = AuditEntry::fromJson(QByteArray::fromRawData(line.data(), line.size()));
        if (entry)
            decoded.entries.append({number, std::move(*entry)});
        else if (!decoded.firstJunk)
            decoded.firstJunk = number;
    }
    return decoded;
}

// About count pieces of equal size, each ending after a line feed (the last
// at the end).
QList<QByteArrayView> splitAtLines(QByteArrayView bytes, int count) {
    QList<QByteArrayView> pieces;
    qsizetype start = 0;
    for (int i = 1; i < count && start < bytes.size(); ++i) {
        const qsizetype end = bytes.indexOf('\n', qMax(start, bytes.size() * i / count));
        if (end < 0) break;
        pieces.append(bytes.sliced(start, end + 1 - start));
        start = end + 1;
    }
    pieces.append(bytes.sliced(start));
    return pieces;
}

} // namespace

bool verify(const QList<AuditEntry>& chain) {
    QByteArray expected = genesis();
    for (qsizetype i = 0; i < chain.size(); ++i) {
        if (!follows(chain.at(i), i, expected)) return false;
        expected = chain.at(i).hash;
    }
    return true;
}

TimelineReading read(const QByteArray& bytes, int pieces) {
    TimelineReading reading;
    if (!QByteArrayView(bytes).isValidUtf8()) {
        reading.fault.kind = TimelineFault::notUtf8;
        return reading;
    }
    // Decoding the lines is most of the work: a large file is decoded in
    // pieces on threads of their own, so that even a file at the bound is
    // read in about a second, and a quit that waits for it is not held long.
    if (pieces <= 0)
        pieces = bytes.size() < (qsizetype(1) << 20)
                     ? 1
                     : qBound(1, int(std::thread::hardware_concurrency()), 4);
    const QList<QByteArrayView> parts = splitAtLines(bytes, pieces);
    std::vector<DecodedLines> decoded(size_t(parts.size()));
    std::vector<std::thread> helpers;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const auto decode = [&decoded, &parts, i] { decoded[size_t(i)] = decodeLines(parts[i]); };
        try {
            helpers.emplace_back(decode);
        } catch (const std::system_error&) {
            decode(); // no thread to be had: here, then
        }
    }
    decoded[0] = decodeLines(parts[0]);
    for (std::thread& helper : helpers)
        helper.join();

    TimelineFault& fault = reading.fault;
    QByteArray expected = genesis();
    qint64 before = 0; // lines in the pieces before this one
    for (DecodedLines& piece : decoded) {
        for (auto& [number, entry] : piece.entries) {
            if (fault.kind == TimelineFault::none && piece.firstJunk && piece.firstJunk < number)
                fault = {TimelineFault::notAnEntry, before + piece.firstJunk};
            // Entries after a break are still listed, but no longer checked:
            // the chain can only be trusted up to its first fault.
            if (fault.kind == TimelineFault::none) {
                if (follows(entry, reading.entries.size(), expected))
                    expected = entry.hash;
                else
                    fault = {TimelineFault::brokenChain, before + number};
            }
            reading.entries.append(std::move(entry));
        }
        if (fault.kind == TimelineFault::none && piece.firstJunk)
            fault = {TimelineFault::notAnEntry, before + piece.firstJunk};
        before += piece.lines;
    }
    return reading;
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
        int error = 0;
        switch (RegularFile::read(path, AuditLog::maximumFileSize, &bytes, &error)) {
        case RegularFile::Status::missing:
            return;
        case RegularFile::Status::notAFile:
            fault = {TimelineFault::notAFile};
            return;
        case RegularFile::Status::tooLarge:
            fault = {TimelineFault::tooLarge};
            return;
        case RegularFile::Status::unreadable:
            fault = {TimelineFault::unreadable, 0, error};
            return;
        case RegularFile::Status::ok:
            break;
        }
        TimelineReading reading = AuditLog::read(bytes);
        chain = std::move(reading.entries);
        fault = reading.fault;
    }

    // An event waiting for its line to reach the disk.
    struct Unwritten {
        QString type;
        QString detail;
        qint64 unixMillis;
    };

    void record(const SecurityEvent& event) {
        loadIfNeeded();
        // A broken timeline is frozen: nothing may be added to it.
        if (fault.kind != TimelineFault::none) return;
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
        // A link to nothing would have the open below make the file where
        // it points, while the next launch reads no timeline there.
        if (const std::optional<QString> refused = RegularFile::writeRefusal(path)) {
            if (refused != lastRefusal) std::fprintf(stderr, "%s\n", qPrintable(*refused));
            lastRefusal = refused;
            return false;
        }
        lastRefusal.reset();
        const QByteArray name = QFile::encodeName(path);
        // Non-blocking, so that a FIFO put in the file's place since it was
        // read cannot hold the worker (and the program's quitting) until a
        // reader comes; it is no place for the timeline either.
        const int flags = O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK;
        int fd = ::open(name.constData(), O_RDWR | flags, 0600);
        bool canRead = true;
        if (fd < 0 && errno == EACCES) {
            // A write-only file can still be appended to; without reading
            // its last byte the torn-line check is skipped.
            fd = ::open(name.constData(), O_WRONLY | flags, 0600);
            canRead = false;
        }
        if (fd < 0) return false;
        struct stat info;
        // Nor may a line take the file past what the next launch reads: the
        // event waits instead, and the file keeps its intact chain.
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
            info.st_size + line.size() + 1 > AuditLog::maximumFileSize) {
            ::close(fd);
            return false;
        }
        QByteArray out;
        const off_t length = info.st_size;
        if (length > 0 && canRead) {
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
            // EINVAL: a file system that cannot flush, where the write is all
            // there is to do.
            written = flushed == 0 || errno == EINVAL;
        }
        if (!written) {
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
        // The reading checked every link, and the chain grows only by
        // entries made here: nothing to check again.
        return {chain, int(unwritten.size()), fault};
    }

    static constexpr qsizetype maxUnwritten = 10000;
    // Told once, not once per event.
    std::optional<QString> lastRefusal;

    const QString path;
    // Owned by the queue.
    QList<AuditEntry> chain;
    QList<Unwritten> unwritten;
    bool loaded = false;
    // Set once, when the file is loaded; a fault freezes the timeline for
    // the rest of the process.
    TimelineFault fault;
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
