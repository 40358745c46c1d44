#pragma once

#include <QObject>
#include <QUuid>
#include <functional>
#include <optional>

class AccountStore;
class TickingClock;
class UserDefaults;
struct Account;

// Which account's row shows that its code was just copied: one at a time, a
// newer copy moving the mark at once, and the mark going a while after the
// latest copy (an older copy's timer finds a newer generation and leaves it).
class CopiedMark : public QObject {
    Q_OBJECT

public:
    explicit CopiedMark(int durationMs, QObject* parent = nullptr)
        : QObject(parent), m_durationMs(durationMs) {}

    std::optional<QUuid> id() const { return m_id; }
    bool isOn(const QUuid& id) const { return m_id == id; }
    void mark(const QUuid& id);

    // Tests shorten how long the mark stays.
    void setDuration(int ms) { m_durationMs = ms; }

signals:
    void changed();

private:
    int m_durationMs;
    std::optional<QUuid> m_id;
    qint64 m_generation = 0;
};

// The Copy of a row in the main window and in the tray's panel: the code
// goes to the clipboard, the use is counted and `mark` moves to the row. An
// HOTP code goes out at the counter the keychain holds by then, not the
// listed one, which AutoFill may have filled meanwhile; when the keychain
// cannot tell, nothing is copied and `failed` hears the sentence that says
// so. Once `mark` is gone (with the view that owns it), nothing happens at
// all.
void copyCode(const Account& account, AccountStore& store, TickingClock& clock,
              UserDefaults& defaults, CopiedMark& mark,
              std::function<void(const QString& why)> failed);
