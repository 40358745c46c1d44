#pragma once

#include "platform/files/RegularFile.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// The tamper-evident timeline of what happened to the vault: one JSON line
// per event, each entry carrying the SHA-256 of its content and of the entry
// before it. A changed, inserted or reordered line, any line that is not an
// entry (a torn last line too), and a line removed from before later lines
// break the chain. Lines removed from the end, and a chain recomputed by
// someone who rewrites the whole file, cannot be detected from the file alone.

struct AuditEntry {
    quint64 seq = 0;
    qint64 unixMillis = 0;
    QString type;
    QString detail;
    QByteArray prevHash;
    QByteArray hash;

    friend bool operator==(const AuditEntry&, const AuditEntry&) = default;

    // Compact JSON: {"seq":..,"unixMillis":..,"type":..,"detail":..,
    // "prevHash":[..bytes..],"hash":[..bytes..]}
    QByteArray toJson() const;
    // All six keys required; nothing when a key is missing or mistyped.
    static std::optional<AuditEntry> fromJson(const QByteArray& line);
};

// Why a timeline cannot be trusted.
struct TimelineFault {
    enum Kind {
        none,
        notAFile,    // a folder, a FIFO, a device in the file's place
        tooLarge,    // larger than AuditLog::maximumFileSize
        unreadable,  // the system refused to read it (error)
        notUtf8,     // bytes that are not UTF-8 text
        notAnEntry,  // a line (at line) that is not an entry: inserted, garbage or torn
        brokenChain, // the entry at line does not follow the one before it
    };
    Kind kind = none;
    qint64 line = 0; // notAnEntry, brokenChain: counted from 1; 0 when not in the file
    int error = 0;   // unreadable: the errno

    friend bool operator==(const TimelineFault&, const TimelineFault&) = default;
};

// What the bytes of a timeline file hold: the entries of every line that is
// one, in file order, and the first fault.
struct TimelineReading {
    QList<AuditEntry> entries;
    TimelineFault fault;
};

// The pure half: hashing, chaining, verification, masking, reading.
namespace AuditLog {

QByteArray genesis(); // 32 zero bytes
QByteArray hash(quint64 seq, qint64 unixMillis, const QString& type, const QString& detail,
                const QByteArray& prevHash);
AuditEntry makeEntry(const QList<AuditEntry>& chain, const QString& type, const QString& detail,
                     qint64 unixMillis);
bool verify(const QList<AuditEntry>& chain);
// Every line but a blank one must be the next entry of the chain: the first
// that is not (not JSON of an entry, or not linked to the one before) is the
// fault. Bytes that are not UTF-8 give no entries at all. A large file is
// decoded in pieces on several threads; pieces, when above 0, says how many
// (the answer is the same whatever their number).
TimelineReading read(const QByteArray& bytes, int pieces = 0);
// The most a timeline file may hold, as for the keychain file: about 200,000
// events, and memory for it is never a question.
constexpr qint64 maximumFileSize = RegularFile::maximumStoredSize;
// Every run of four or more ASCII digits becomes six bullets.
QString redact(const QString& text);

} // namespace AuditLog

// One event to record.
struct SecurityEvent {
    enum Kind {
        accountAdded,
        accountsImported,
        accountEdited,
        accountDeleted,
        accountRestored,
        accountErased,
        passkeyDeleted,
        backupExported,
    };
    Kind kind;
    QString text; // the label, or the relying party of passkeyDeleted
    qint64 count = 0;

    static SecurityEvent added(const QString& label) { return {accountAdded, label}; }
    static SecurityEvent imported(qint64 count) { return {accountsImported, {}, count}; }
    static SecurityEvent edited(const QString& label) { return {accountEdited, label}; }
    static SecurityEvent deleted(const QString& label) { return {accountDeleted, label}; }
    static SecurityEvent restored(const QString& label) { return {accountRestored, label}; }
    static SecurityEvent erased(const QString& label) { return {accountErased, label}; }
    static SecurityEvent passkey(const QString& rpId) { return {passkeyDeleted, rpId}; }
    static SecurityEvent exported() { return {backupExported, {}}; }

    QString type() const;   // "account.added" ...
    QString detail() const; // labels masked, counts as "3 accounts"
};

// The owner of the timeline file. Every read and write happens on its own
// worker thread, so callers never wait for the disk or the hashing. An entry
// joins the chain only once its line is written and flushed to the disk; an
// event whose write fails waits and is written before the next one.
class SecurityLog {
public:
    // The timeline of this user: $XDG_DATA_HOME/Quillet/security-timeline.jsonl.
    // Never destroyed; call waitForIdle() before the process exits.
    static SecurityLog& shared();
    static QString defaultPath();

    explicit SecurityLog(QString path);
    ~SecurityLog(); // finishes the queued work, then stops the worker
    SecurityLog(const SecurityLog&) = delete;
    SecurityLog& operator=(const SecurityLog&) = delete;

    // Returns at once; the event is appended later, in call order.
    void record(const SecurityEvent& event);

    struct Snapshot {
        QList<AuditEntry> entries;
        // Events recorded but not yet on the disk (it was full or failed).
        int unwritten = 0;
        // Why it is not intact.
        TimelineFault fault;

        bool intact() const { return fault.kind == TimelineFault::none; }
    };
    // Runs on the worker and waits for it: call from a background thread,
    // never from the worker itself.
    Snapshot snapshot();

    // Waits until everything recorded so far has been handled.
    void waitForIdle();

    QString path() const;

private:
    struct Worker;
    std::unique_ptr<Worker> m_worker;
};
