#include "platform/keychain/KeychainFile.h"

#include "platform/files/PrivateFolder.h"
#include "platform/files/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace Keychain {

namespace {

constexpr int fileFormatVersion = 1;

// flock() excludes other open file descriptions, which already keeps two
// threads apart when each opens the lock file itself; the mutex makes that
// independent of how the descriptor was obtained and keeps the threads of this
// process from queueing in the kernel behind each other's file I/O.
QMutex& processMutex() {
    static QMutex mutex;
    return mutex;
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now and reports whether close succeeded: on some filesystems a
    // delayed write error only shows up here.
    bool close() {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

bool writeAll(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

enum class ReadResult { ok, missing, unreadable, damaged };

ReadResult readAll(const QString& path, QByteArray* bytes) {
    const RegularFile::Status status = RegularFile::read(path, RegularFile::maximumStoredSize, bytes);
    switch (status) {
    case RegularFile::Status::ok:
        return ReadResult::ok;
    case RegularFile::Status::missing:
        return ReadResult::missing;
    case RegularFile::Status::unreadable:
        return ReadResult::unreadable;
    case RegularFile::Status::notAFile:
    case RegularFile::Status::tooLarge:
        break;
    }
    const bool large = status == RegularFile::Status::tooLarge;
    std::fprintf(stderr, "Quillet: %s is %s; the keychain stays closed\n",
                 native(path).constData(), large ? "larger than any keychain file" : "not a file");
    return large ? ReadResult::damaged : ReadResult::unreadable;
}

QString temporaryPrefix(const QString& path) {
    return QFileInfo(path).fileName() + ".tmp-";
}

// Writers hold the lock for as long as their temporary file exists, so one
// found while holding it was left by a writer that died mid-write.
void removeStaleTemporaries(const QString& path) {
    const QFileInfo info(path);
    QDir folder = info.dir();
    const QStringList stale =
        folder.entryList({temporaryPrefix(path) + '*'}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : stale)
        ::unlink(native(folder.filePath(name)).constData());
}

// Temporary file in the same folder, flushed to disk, renamed over the old
// file, then the folder flushed so the rename itself survives a power cut.
// Until the rename every reader, and the file after a crash, has the old items.
template <typename Fill> bool writeAtomically(const QString& path, Fill fill) {
    removeStaleTemporaries(path);
    const QString folder = QFileInfo(path).absolutePath();
    QByteArray temporary = native(folder + '/' + temporaryPrefix(path) + "XXXXXX");
    Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid()) return false;
    const bool written = ::fchmod(fd.get(), 0600) == 0 && fill(fd.get()) &&
                         ::fsync(fd.get()) == 0 && fd.close() &&
                         ::rename(temporary.constData(), native(path).constData()) == 0;
    if (!written) {
        ::unlink(temporary.constData());
        return false;
    }
    // The new file is in place and visible; a failing folder flush cannot be
    // undone, so it does not turn the write into a failure.
    Descriptor folderFd(::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.valid()) ::fsync(folderFd.get());
    return true;
}

// Runs `body` with the file's path (see FileBackend::target()) while holding
// the lock that every process using this file takes.
template <typename Body> Status withLock(const QString& path, bool mayCreate, Body body) {
    QMutexLocker processLock(&processMutex());

    const QString folder = QFileInfo(path).absolutePath();
    if (!mayCreate && !QFileInfo::exists(folder)) return body(std::optional<QString>());
    // The folder holds every secret: umask must not decide who may list it.
    if (!PrivateFolder::ensure(folder)) return mayCreate ? ioError : notAvailable;
    const auto target = FileBackend::target(path);
    if (!target) {
        std::fprintf(stderr, "Quillet: %s is a symbolic link to a file that cannot be reached; "
                             "the keychain stays closed until the link is mended\n",
                     native(path).constData());
        return notAvailable;
    }
    // Nor is a lock file made, or the file replaced, beside a device, a FIFO
    // or a folder that the link names.
    if (const auto refused = RegularFile::writeRefusal(path)) {
        std::fprintf(stderr, "%s The keychain stays closed.\n", qPrintable(*refused));
        return notAvailable;
    }

    const QByteArray lockPath = native(*target + QStringLiteral(".lock"));
    // Non-blocking: a FIFO in the lock file's place must not hold the open.
    int lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
    if (lockFd < 0) // a read-only folder still lets an existing lock file be used
        lockFd = ::open(lockPath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    // Closing the descriptor releases the lock, also when the process dies.
    Descriptor lock(lockFd);
    if (!lock.valid()) return notAvailable;
    while (::flock(lock.get(), LOCK_EX) != 0)
        if (errno != EINTR) return notAvailable;
    return body(target);
}

// The file's text for `items`, handed to `sink` a piece at a time (false
// from the sink stops it), in the layout of one indented JSON document:
// building that document whole holds the vault several times over (the
// objects, the array, the growing text) while a large one is written.
template <typename Sink> bool encodeInto(const QList<Item>& items, Sink sink) {
    static const QByteArray itemIndent(8, ' ');
    QByteArray piece = QByteArrayLiteral("{\n    \"items\": [");
    for (qsizetype i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        const QByteArray one = QJsonDocument(QJsonObject{
                                                 {QStringLiteral("class"), item.itemClass},
                                                 {QStringLiteral("service"), item.service},
                                                 {QStringLiteral("account"), item.account},
                                                 {QStringLiteral("accessGroup"), item.accessGroup},
                                                 {QStringLiteral("synchronizable"), item.synchronizable},
                                                 {QStringLiteral("accessible"), toText(item.accessible)},
                                                 {QStringLiteral("dataProtection"), item.dataProtection},
                                                 {QStringLiteral("label"), item.label},
                                                 {QStringLiteral("data"),
                                                  QString::fromLatin1(item.data.toBase64())},
                                             })
                                   .toJson(QJsonDocument::Indented);
        piece += i == 0 ? "\n" : ",\n";
        // The object's lines, each set in by two levels, without its last
        // line break.
        for (qsizetype start = 0; start < one.size();) {
            qsizetype end = one.indexOf('\n', start);
            if (end < 0) end = one.size();
            if (start > 0) piece += '\n';
            piece += itemIndent;
            piece.append(one.constData() + start, end - start);
            start = end + 1;
        }
        if (piece.size() >= 256 * 1024) {
            if (!sink(piece)) return false;
            piece.clear();
        }
    }
    piece += "\n    ],\n    \"version\": " + QByteArray::number(fileFormatVersion) + "\n}\n";
    return sink(piece);
}

// The body edits the items and sets *changed when they have to be written.
// The items of the file, those `keep` accepts (all when it is empty), handed
// to `body`; written back when it reports a change, which only a body given
// every item may do.
template <typename Body>
Status withItems(const QString& path, bool mayCreate, const std::function<bool(const Item&)>& keep,
                 Body body) {
    return withLock(path, mayCreate, [&](const std::optional<QString>& target) {
        QList<Item> items;
        bool changed = false;
        // No folder, so no file and no lock file to take: there are no items,
        // and a lookup should not leave folders behind.
        if (!target) return body(items, &changed);

        QByteArray bytes;
        switch (readAll(*target, &bytes)) {
        case ReadResult::missing:
            break;
        case ReadResult::unreadable:
            return notAvailable;
        case ReadResult::damaged:
            return decodeFailed;
        case ReadResult::ok:
            if (auto decoded = FileBackend::decode(bytes, keep))
                items = std::move(*decoded);
            else
                return decodeFailed;
            break;
        }
        // The file's text is not held while the items are changed and
        // written anew.
        bytes = QByteArray();

        const Status status = body(items, &changed);
        Q_ASSERT(!changed || !keep);
        if (status == success && changed && !keep &&
            !writeAtomically(*target, [&items](int fd) {
                return encodeInto(items, [fd](const QByteArray& piece) { return writeAll(fd, piece); });
            }))
            return ioError;
        return status;
    });
}

template <typename Body> Status withItems(const QString& path, bool mayCreate, Body body) {
    return withItems(path, mayCreate, {}, body);
}

// Adds the item unless one with the same primary key is there.
Status addTo(QList<Item>& items, const Item& item) {
    for (const Item& existing : std::as_const(items))
        if (samePrimaryKey(existing, item)) return duplicateItem;
    items.append(item);
    return success;
}

} // namespace

QByteArray FileBackend::encode(const QList<Item>& items) {
    QByteArray out;
    encodeInto(items, [&out](const QByteArray& piece) {
        out += piece;
        return true;
    });
    return out;
}

namespace {

// One item of the file, or nothing when it is not one as written here.
std::optional<Item> itemFrom(const QJsonObject& object) {
    const auto text = [&](const char* key) -> std::optional<QString> {
        const QJsonValue v = object.value(QLatin1String(key));
        return v.isString() ? std::optional(v.toString()) : std::nullopt;
    };
    const auto flag = [&](const char* key) -> std::optional<bool> {
        const QJsonValue v = object.value(QLatin1String(key));
        return v.isBool() ? std::optional(v.toBool()) : std::nullopt;
    };
    const auto itemClass = text("class"), service = text("service"), account = text("account"),
               accessGroup = text("accessGroup"), accessible = text("accessible"),
               data = text("data");
    const auto synchronizable = flag("synchronizable"), dataProtection = flag("dataProtection");
    if (!itemClass || !service || !account || !accessGroup || !accessible || !data ||
        !synchronizable || !dataProtection)
        return std::nullopt;

    Item item;
    item.itemClass = *itemClass;
    item.service = *service;
    item.account = *account;
    item.accessGroup = *accessGroup;
    item.synchronizable = *synchronizable;
    item.dataProtection = *dataProtection;
    const auto accessibility = accessibilityFromText(*accessible);
    if (!accessibility)
        return std::nullopt;
    item.accessible = *accessibility;
    // Files written before items had labels have none.
    const QJsonValue label = object.value(QLatin1String("label"));
    if (!label.isUndefined() && !label.isString()) return std::nullopt;
    item.label = label.toString();
    auto decoded = QByteArray::fromBase64Encoding(data->toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return std::nullopt;
    item.data = std::move(*decoded);
    return item;
}

// The root object with its version and items, checked; the items' values.
std::optional<QJsonArray> itemsOf(const QJsonDocument& document) {
    if (!document.isObject()) return std::nullopt;
    const QJsonObject root = document.object();
    const QJsonValue version = root.value(QLatin1String("version"));
    if (!version.isDouble() || version.toDouble() != fileFormatVersion) return std::nullopt;
    const QJsonValue items = root.value(QLatin1String("items"));
    if (!items.isArray()) return std::nullopt;
    return items.toArray();
}

// Where the text of each element of the root object's "items" array lies,
// found by matching brackets and strings, not by building the document: a
// document of a large vault takes four times its text while it is held
// whole. The file's own layout and any other valid JSON are found alike;
// nothing (and the whole document read instead) where the text is laid out
// otherwise: an element that is no object, "items" twice, a key written
// with escapes, or a fault.
struct ItemTexts {
    qsizetype open = -1, close = -1; // the array's brackets
    QList<std::pair<qsizetype, qsizetype>> elements; // start, length
};

std::optional<ItemTexts> findItemTexts(const QByteArray& bytes) {
    const char* const d = bytes.constData();
    const qsizetype n = bytes.size();
    const auto space = [&](qsizetype i) {
        while (i < n && (d[i] == ' ' || d[i] == '\n' || d[i] == '\r' || d[i] == '\t')) ++i;
        return i;
    };
    // Just past the string that opens at i, or -1.
    const auto string = [&](qsizetype i) -> qsizetype {
        for (++i; i < n; ++i) {
            if (d[i] == '\\') ++i;
            else if (d[i] == '"') return i + 1;
        }
        return -1;
    };
    // Just past the value that starts at i, or -1; brackets of either kind
    // are counted alike (a parse of the text found tells a mismatch).
    const auto value = [&](qsizetype i) -> qsizetype {
        if (i >= n) return -1;
        if (d[i] == '"') return string(i);
        if (d[i] != '{' && d[i] != '[') {
            while (i < n && d[i] != ',' && d[i] != '}' && d[i] != ']' && d[i] != ' ' &&
                   d[i] != '\n' && d[i] != '\r' && d[i] != '\t')
                ++i;
            return i;
        }
        int depth = 0;
        while (i < n) {
            if (d[i] == '"') {
                i = string(i);
                if (i < 0) return -1;
                continue;
            }
            if (d[i] == '{' || d[i] == '[') ++depth;
            else if ((d[i] == '}' || d[i] == ']') && --depth == 0) return i + 1;
            ++i;
        }
        return -1;
    };

    ItemTexts found;
    qsizetype i = space(0);
    if (i >= n || d[i] != '{') return std::nullopt;
    i = space(i + 1);
    if (i < n && d[i] == '}') return std::nullopt;
    for (;;) {
        if (i >= n || d[i] != '"') return std::nullopt;
        const qsizetype keyEnd = string(i);
        if (keyEnd < 0) return std::nullopt;
        const QByteArrayView key(d + i + 1, keyEnd - i - 2);
        if (key.contains('\\')) return std::nullopt;
        i = space(keyEnd);
        if (i >= n || d[i] != ':') return std::nullopt;
        i = space(i + 1);
        if (key == "items") {
            if (found.open >= 0 || i >= n || d[i] != '[') return std::nullopt;
            found.open = i;
            i = space(i + 1);
            if (i < n && d[i] == ']') {
                found.close = i;
            } else {
                for (;;) {
                    if (i >= n || d[i] != '{') return std::nullopt;
                    const qsizetype end = value(i);
                    if (end < 0) return std::nullopt;
                    found.elements.append({i, end - i});
                    i = space(end);
                    if (i < n && d[i] == ',') {
                        i = space(i + 1);
                        continue;
                    }
                    if (i < n && d[i] == ']') break;
                    return std::nullopt;
                }
                found.close = i;
            }
            i = space(found.close + 1);
        } else {
            const qsizetype end = value(i);
            if (end < 0) return std::nullopt;
            i = space(end);
        }
        if (i < n && d[i] == ',') {
            i = space(i + 1);
            continue;
        }
        if (i < n && d[i] == '}') break;
        return std::nullopt;
    }
    if (found.open < 0) return std::nullopt;
    return found;
}

} // namespace

// Strict on purpose: a file this code does not fully understand (another
// version, a hand edit gone wrong) must stop every operation rather than be
// read as fewer items and then written back without them.
std::optional<QList<Item>> FileBackend::decode(const QByteArray& bytes) {
    return decode(bytes, {});
}

std::optional<QList<Item>> FileBackend::decode(const QByteArray& bytes,
                                               const std::function<bool(const Item&)>& keep) {
    QList<Item> items;
    if (const auto texts = findItemTexts(bytes)) {
        // The document without its items' text, read whole: every other
        // part checked as before; then each item read on its own.
        QByteArray rest = bytes.left(texts->open + 1);
        rest += QByteArrayView(bytes).sliced(texts->close);
        QJsonParseError error;
        const auto array = itemsOf(QJsonDocument::fromJson(rest, &error));
        if (error.error != QJsonParseError::NoError || !array || !array->isEmpty())
            return std::nullopt;
        if (!keep) items.reserve(texts->elements.size());
        for (const auto& [start, length] : texts->elements) {
            const QJsonDocument one = QJsonDocument::fromJson(
                QByteArray::fromRawData(bytes.constData() + start, length), &error);
            if (error.error != QJsonParseError::NoError || !one.isObject()) return std::nullopt;
            auto item = itemFrom(one.object());
            if (!item) return std::nullopt;
            if (!keep || keep(*item)) items.append(std::move(*item));
        }
        return items;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) return std::nullopt;
    const auto array = itemsOf(document);
    if (!array) return std::nullopt;
    if (!keep) items.reserve(array->size());
    for (const QJsonValue& value : *array) {
        if (!value.isObject()) return std::nullopt;
        auto item = itemFrom(value.toObject());
        if (!item) return std::nullopt;
        if (!keep || keep(*item)) items.append(std::move(*item));
    }
    return items;
}

FileBackend::FileBackend(QString path) : m_path(std::move(path)) {
}

std::optional<QString> FileBackend::target(const QString& path) {
    const QByteArray name = native(path);
    struct stat info;
    if (::lstat(name.constData(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char resolved[PATH_MAX];
    if (::realpath(name.constData(), resolved)) return QFile::decodeName(resolved);
    return std::nullopt;
}

QString FileBackend::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quillet/keychain.json");
}

Status FileBackend::open() {
    // A writer that died mid-write left its temporary file, which holds every
    // secret, behind; it goes now rather than at the next write.
    return withLock(m_path, false, [](const std::optional<QString>& target) {
        if (target) removeStaleTemporaries(*target);
        return success;
    });
}

Status FileBackend::add(const Item& item) {
    return withItems(m_path, true, [&](QList<Item>& items, bool* changed) {
        const Status status = addTo(items, item);
        *changed = status == success;
        return status;
    });
}

QList<Status> FileBackend::upsert(const QList<Upsert>& writes, const Progress&) {
    QList<Status> statuses;
    statuses.reserve(writes.size());
    const Status status = withItems(m_path, true, [&](QList<Item>& items, bool* changed) {
        // The items by service and account, which every primary key and
        // nearly every query of a batch names: a write looks at the few items
        // under its pair instead of all of them, so a restore of many
        // accounts costs the number of accounts, not its square.
        QHash<std::pair<QString, QString>, QList<qsizetype>> byName;
        byName.reserve(items.size() + writes.size());
        items.reserve(items.size() + writes.size());
        for (qsizetype i = 0; i < items.size(); ++i)
            byName[{items[i].service, items[i].account}].append(i);
        for (const Upsert& write : writes) {
            const bool named = write.query.service && write.query.account;
            bool found = false;
            const auto update = [&](qsizetype i) {
                if (!matches(write.query, items[i])) return;
                items[i].data = write.item.data;
                found = true;
            };
            if (named) {
                for (const qsizetype i : byName.value({*write.query.service, *write.query.account}))
                    update(i);
            } else {
                for (qsizetype i = 0; i < items.size(); ++i) update(i);
            }
            Status one = success;
            if (!found) {
                const QList<qsizetype> same = byName.value({write.item.service, write.item.account});
                const bool duplicate = std::any_of(same.begin(), same.end(), [&](qsizetype i) {
                    return samePrimaryKey(items[i], write.item);
                });
                if (duplicate) {
                    one = duplicateItem;
                } else {
                    byName[{write.item.service, write.item.account}].append(items.size());
                    items.append(write.item);
                }
            }
            *changed = *changed || one == success;
            statuses.append(one);
        }
        return success;
    });
    // Nothing of the batch reached the file.
    if (status != success) statuses = QList<Status>(writes.size(), status);
    return statuses;
}

Status FileBackend::update(const Query& query, const QByteArray& data) {
    return withItems(m_path, false, [&](QList<Item>& items, bool* changed) {
        for (Item& item : items)
            if (matches(query, item)) {
                item.data = data;
                *changed = true;
            }
        return *changed ? success : itemNotFound;
    });
}

Status FileBackend::copyMatching(const Query& query, Results* results) {
    // Only the matching items are kept from the file, so that a lookup of
    // the passkeys in a large vault does not hold every account beside them.
    return withItems(m_path, false, [&](const Item& item) { return matches(query, item); },
                     [&](QList<Item>& items, bool*) {
        // Every item here matches: the read kept no other.
        Results found;
        for (const Item& item : std::as_const(items)) {
            found.append(returned(query, item));
            if (query.matchLimit == Query::MatchLimit::one) break;
        }
        if (found.isEmpty()) return itemNotFound;
        if (results) *results = found;
        return success;
    });
}

Status FileBackend::remove(const Query& query) {
    return withItems(m_path, false, [&](QList<Item>& items, bool* changed) {
        *changed = items.removeIf([&](const Item& item) { return matches(query, item); }) > 0;
        return *changed ? success : itemNotFound;
    });
}

} // namespace Keychain
