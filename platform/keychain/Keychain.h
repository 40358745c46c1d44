#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// A keychain of generic-password items with the item model, matching rules
// and status codes that the vault's stores are written against. Three
// backends: the desktop's Secret Service, a private file for machines without
// one, and memory for tests. The process uses one of them, chosen at start.
//
// Only open() ever waits for the user (the keyring's unlock prompt); every
// other operation on a locked keychain fails at once with
// interactionNotAllowed, so a program can call them on its GUI thread.
namespace Keychain {

// Platform status codes. Callers tell success and itemNotFound apart; every
// other non-zero status is an error.
enum Status : qint32 {
    success = 0,
    itemNotFound = -25300,
    duplicateItem = -25299,
    interactionNotAllowed = -25308, // locked and not unlocked
    notAvailable = -25291,          // no keychain service or file could be reached
    decodeFailed = -26275,          // the stored items cannot be read
    ioError = -36,                  // the items could not be written
    writeRefused = -61,             // the keyring's service refused a write for a reason of its own
    paramError = -50,
    userCanceled = -128,            // a batch stopped before this write
};

// Which items a query matches by synchronizability. A query that does not say
// matches only device-local items, and an add that does not say creates one.
enum class Synchronizable { deviceLocal, yes, any };

enum class Accessibility { whenUnlocked, afterFirstUnlock };
// "whenUnlocked", "afterFirstUnlock": the stored form of the attribute.
QString toText(Accessibility accessible);
std::optional<Accessibility> accessibilityFromText(const QString& text);

struct Item {
    QString itemClass = QStringLiteral("genp"); // generic password
    QString service;
    QString account;
    QString accessGroup;
    bool synchronizable = false;
    Accessibility accessible = Accessibility::whenUnlocked;
    // Items live either in the data-protection keychain or in the older
    // file-based one; a query reaches only the one it names.
    bool dataProtection = false;
    // What a keyring viewer shows for the item; not part of any match.
    QString label;
    QByteArray data;

    friend bool operator==(const Item&, const Item&) = default;
};

struct Query {
    std::optional<QString> service;
    std::optional<QString> account;
    std::optional<QString> accessGroup; // none: every group
    Synchronizable synchronizable = Synchronizable::deviceLocal;
    bool useDataProtection = false;
    enum class MatchLimit { one, all } matchLimit = MatchLimit::one;
    bool returnData = false;
    bool returnAttributes = false;
};

// What copyMatching found: one entry per matching item (at most one with
// MatchLimit::one). Attributes are filled when asked for, data when asked for.
using Results = QList<Item>;

bool matches(const Query& query, const Item& item);
// Two items are the same keychain entry when these agree; adding the second
// fails with duplicateItem.
bool samePrimaryKey(const Item& a, const Item& b);
// What a caller gets back of a matched item, given what the query asks for.
Item returned(const Query& query, const Item& item);

// One write of a batch: the data of every item the query matches becomes
// item.data; when none matches, `item` is added.
struct Upsert {
    Query query;
    Item item;
};
// Told, by a backend that writes a batch item by item, the statuses of the
// writes made so far. Returning false stops the batch: the writes not made
// get userCanceled.
using Progress = std::function<bool(const QList<Status>& done)>;

class Backend {
public:
    virtual ~Backend() = default;
    virtual QString name() const = 0;
    // Makes the keychain usable: unlocks it, and creates the collection new
    // items go into, asking the user through the keychain's own prompt where
    // it has to. May take as long as the user does; never call it on a GUI
    // thread. Success when every later operation can proceed without the user.
    virtual Status open() { return success; }
    virtual Status add(const Item& item) = 0;
    // Replaces the data of every matching item.
    virtual Status update(const Query& query, const QByteArray& data) = 0;
    virtual Status copyMatching(const Query& query, Results* results) = 0;
    // Removes every matching item.
    virtual Status remove(const Query& query) = 0;
    // Several writes at once, each with its own status, in order. A failed
    // write does not stop the others. Backends that keep their items in one
    // place write them once (the file backend flushes once per batch) and
    // tell no progress.
    virtual QList<Status> upsert(const QList<Upsert>& writes, const Progress& progress = {});
    // Something cheap to take that differs whenever the items may have
    // changed since it was last taken (by this process or another). Nothing
    // when the backend cannot tell: the caller reads again to know.
    virtual std::optional<QByteArray> changeStamp() { return std::nullopt; }
};

// The backend every caller in this process uses. The first call picks one:
// QUILLET_KEYCHAIN=secret-service|file|memory forces it; otherwise the
// Secret Service when the session bus offers it, else the file backend.
Backend& backend();
// Replaces the process's backend (tests, and the choice at start).
void setBackend(std::shared_ptr<Backend> backend);

Status open();
Status add(const Item& item);
Status update(const Query& query, const QByteArray& data);
Status copyMatching(const Query& query, Results* results);
Status remove(const Query& query);
QList<Status> upsert(const QList<Upsert>& writes, const Progress& progress = {});
std::optional<QByteArray> changeStamp();
// Dismisses a prompt that open() is waiting on (the program is quitting), so
// that open() returns interactionNotAllowed now. Never picks a backend.
void cancelInteraction();

// One read-modify-write of shared items, kept whole against every other
// process: the program and the credential provider's host both read items,
// decide and write, and two such steps interleaved would undo each other (a
// record saved by one, removed by the other as superseded). A transaction is
// an exclusive lock on a file in Quillet's data folder, held from its
// construction to its destruction (or the end of the process), whatever
// backend holds the items. A thread that holds it may open another, which
// then holds nothing of its own. Waits while another holds it: take it around
// keychain work only, never while asking the user.
class Transaction {
public:
    Transaction();
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // $XDG_DATA_HOME/Quillet/keychain.transaction.lock
    static QString lockPath();

private:
    int m_fd = -1;
    bool m_outermost = false;
};

// Items kept in memory. Tests can make any operation fail with a status.
// Safe to use from several threads; items() is for a test's own thread while
// nothing else runs.
class MemoryBackend : public Backend {
public:
    enum class Operation { open, add, update, copyMatching, remove };

    QString name() const override { return QStringLiteral("memory"); }
    Status open() override;
    Status add(const Item& item) override;
    Status update(const Query& query, const QByteArray& data) override;
    Status copyMatching(const Query& query, Results* results) override;
    Status remove(const Query& query) override;
    // Item by item (so that injected failures hit single writes), but told
    // as one write: memory is never slow enough for progress to matter.
    QList<Status> upsert(const QList<Upsert>& writes, const Progress& progress = {}) override;

    // Every later call of the operation returns the status, until cleared
    // with success.
    void failWith(Operation operation, Status status);
    // Only calls whose item (for add) or query names this account fail.
    void failWith(Operation operation, Status status, const QString& account);
    const QList<Item>& items() const { return m_items; }
    QList<Item>& items() { return m_items; }

private:
    std::optional<Status> forced(Operation operation, const std::optional<QString>& account) const;

    mutable QMutex m_mutex;
    struct Failure {
        Operation operation;
        Status status;
        std::optional<QString> account;
    };
    QList<Item> m_items;
    QList<Failure> m_failures;
};

} // namespace Keychain
