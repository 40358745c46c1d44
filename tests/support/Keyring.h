#pragma once

// The default collection of the gnome-keyring that tests/with-session.sh
// starts, locked and unlocked the way a screen locker or `secret-tool lock`
// and the login would: over D-Bus, never through a prompt.
typedef struct _SecretService SecretService;
typedef struct _SecretCollection SecretCollection;

namespace TestSupport {

class KeyringCollection {
public:
    KeyringCollection();
    ~KeyringCollection();
    KeyringCollection(const KeyringCollection&) = delete;
    KeyringCollection& operator=(const KeyringCollection&) = delete;

    bool lock();
    // With the password tests/with-session.sh gave the keyring, through the
    // interface gnome-keyring's own login integration uses.
    bool unlock();

private:
    SecretService* m_service = nullptr;
    SecretCollection* m_collection = nullptr;
};

} // namespace TestSupport
