#include "platform/keychain/Keychain.h"

#include "platform/keychain/KeychainFile.h"
#include "platform/keychain/KeychainSecretService.h"

#include <QMutex>
#include <cstdio>

namespace Keychain {

bool matches(const Query& query, const Item& item) {
    if (item.itemClass != QLatin1String("genp"))
        return false;
    if (query.service && *query.service != item.service)
        return false;
    if (query.account && *query.account != item.account)
        return false;
    if (query.accessGroup && *query.accessGroup != item.accessGroup)
        return false;
    switch (query.synchronizable) {
    case Synchronizable::deviceLocal:
        if (item.synchronizable)
            return false;
        break;
    case Synchronizable::yes:
        if (!item.synchronizable)
            return false;
        break;
    case Synchronizable::any:
        break;
    }
    return query.useDataProtection == item.dataProtection;
}

bool samePrimaryKey(const Item& a, const Item& b) {
    return a.itemClass == b.itemClass && a.service == b.service && a.account == b.account &&
           a.accessGroup == b.accessGroup && a.synchronizable == b.synchronizable &&
           a.dataProtection == b.dataProtection;
}

QString toText(Accessibility accessible) {
    return accessible == Accessibility::afterFirstUnlock ? QStringLiteral("afterFirstUnlock")
                                                         : QStringLiteral("whenUnlocked");
}

std::optional<Accessibility> accessibilityFromText(const QString& text) {
    for (const Accessibility accessible :
         {Accessibility::whenUnlocked, Accessibility::afterFirstUnlock})
        if (text == toText(accessible))
            return accessible;
    return std::nullopt;
}

Item returned(const Query& query, const Item& item) {
    Item out;
    if (query.returnAttributes) {
        out = item;
        out.data.clear();
    }
    if (query.returnData)
        out.data = item.data;
    return out;
}

namespace {

QMutex backendMutex;
std::shared_ptr<Backend> currentBackend;

std::shared_ptr<Backend> chooseBackend() {
    const QByteArray forced = qgetenv("QUILLET_KEYCHAIN");
    if (forced == "memory")
        return std::make_shared<MemoryBackend>();
    if (forced == "file")
        return std::make_shared<FileBackend>(FileBackend::defaultPath());
    if (forced == "secret-service" || SecretServiceBackend::isAvailable())
        return std::make_shared<SecretServiceBackend>();
    auto file = std::make_shared<FileBackend>(FileBackend::defaultPath());
    std::fprintf(stderr,
                 "Quillet: no Secret Service on the session bus; keeping accounts in %s\n",
                 qPrintable(file->path()));
    return file;
}

std::shared_ptr<Backend> current() {
    QMutexLocker lock(&backendMutex);
    if (!currentBackend)
        currentBackend = chooseBackend();
    return currentBackend;
}

} // namespace

Backend& backend() { return *current(); }

void setBackend(std::shared_ptr<Backend> backend) {
    QMutexLocker lock(&backendMutex);
    currentBackend = std::move(backend);
}

QList<Status> Backend::upsert(const QList<Upsert>& writes, const Progress& progress) {
    QList<Status> statuses;
    statuses.reserve(writes.size());
    for (const Upsert& write : writes) {
        Status status = update(write.query, write.item.data);
        if (status == itemNotFound)
            status = add(write.item);
        statuses.append(status);
        if (progress && !progress(statuses))
            break;
    }
    while (statuses.size() < writes.size())
        statuses.append(userCanceled);
    return statuses;
}

Status open() { return current()->open(); }
Status add(const Item& item) { return current()->add(item); }
Status update(const Query& query, const QByteArray& data) { return current()->update(query, data); }
Status copyMatching(const Query& query, Results* results) {
    return current()->copyMatching(query, results);
}
Status remove(const Query& query) { return current()->remove(query); }
QList<Status> upsert(const QList<Upsert>& writes, const Progress& progress) {
    return current()->upsert(writes, progress);
}

std::optional<QByteArray> changeStamp() { return current()->changeStamp(); }

void cancelInteraction() { SecretServiceBackend::cancelInteraction(); }

// MARK: - Memory backend

std::optional<Status> MemoryBackend::forced(Operation operation,
                                            const std::optional<QString>& account) const {
    for (const Failure& failure : m_failures)
        if (failure.operation == operation &&
            (!failure.account || (account && *failure.account == *account)))
            return failure.status;
    return std::nullopt;
}

void MemoryBackend::failWith(Operation operation, Status status) {
    QMutexLocker lock(&m_mutex);
    m_failures.removeIf([&](const Failure& f) { return f.operation == operation && !f.account; });
    if (status != success)
        m_failures.append({operation, status, std::nullopt});
}

void MemoryBackend::failWith(Operation operation, Status status, const QString& account) {
    QMutexLocker lock(&m_mutex);
    m_failures.removeIf(
        [&](const Failure& f) { return f.operation == operation && f.account == account; });
    if (status != success)
        m_failures.append({operation, status, account});
}

QList<Status> MemoryBackend::upsert(const QList<Upsert>& writes, const Progress&) {
    return Backend::upsert(writes);
}

Status MemoryBackend::open() {
    QMutexLocker lock(&m_mutex);
    return forced(Operation::open, std::nullopt).value_or(success);
}

Status MemoryBackend::add(const Item& item) {
    QMutexLocker lock(&m_mutex);
    if (const auto status = forced(Operation::add, item.account))
        return *status;
    for (const Item& existing : std::as_const(m_items))
        if (samePrimaryKey(existing, item))
            return duplicateItem;
    m_items.append(item);
    return success;
}

Status MemoryBackend::update(const Query& query, const QByteArray& data) {
    QMutexLocker lock(&m_mutex);
    if (const auto status = forced(Operation::update, query.account))
        return *status;
    bool found = false;
    for (Item& item : m_items)
        if (matches(query, item)) {
            item.data = data;
            found = true;
        }
    return found ? success : itemNotFound;
}

Status MemoryBackend::copyMatching(const Query& query, Results* results) {
    QMutexLocker lock(&m_mutex);
    if (const auto status = forced(Operation::copyMatching, query.account))
        return *status;
    Results found;
    for (const Item& item : std::as_const(m_items))
        if (matches(query, item)) {
            found.append(returned(query, item));
            if (query.matchLimit == Query::MatchLimit::one)
                break;
        }
    if (found.isEmpty())
        return itemNotFound;
    if (results)
        *results = found;
    return success;
}

Status MemoryBackend::remove(const Query& query) {
    QMutexLocker lock(&m_mutex);
    if (const auto status = forced(Operation::remove, query.account))
        return *status;
    const auto removed = m_items.removeIf([&](const Item& item) { return matches(query, item); });
    return removed > 0 ? success : itemNotFound;
}

} // namespace Keychain
