// Puts a few demonstration accounts into the current user's vault (the
// desktop test runs it inside its own throwaway session). Also, for the
// desktop test's scan: "--qr-image FILE" writes a QR code of a setup link
// for a "Scanned" account, and "--list" prints the vault's account labels.
// "--hotp-account ISSUER COUNTER" adds an HOTP account and prints its id,
// "--counter ID" prints the counter the keyring holds for it.
// "--menu-bar-account N" makes the N-th account (from 0) the one whose code
// the tray shows. "--hotkey N [LETTER] [--auto-paste]" binds
// Ctrl+Alt+Shift+LETTER (P unless given) to the N-th account, pasting when
// asked, and prints the binding's id. "--delete N" moves the first N accounts
// to Recently Deleted; "--list-deleted" prints the labels of those the
// keyring still holds there.
#include "core/AccountStore.h"
#include "core/Json.h"
#include "core/KeychainStore.h"
#include "core/SecurityLog.h"
#include "core/Settings.h"
#include "platform/files/UserDefaults.h"
#include "platform/qr/QrImage.h"
#include "system/AppSettings.h"
#include "system/HotKey.h"

#include <QGuiApplication>
#include <QPainter>

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication::setOrganizationName(QStringLiteral("tarnwick"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillet"));
    if (argc == 3 && qstrcmp(argv[1], "--qr-image") == 0) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        const QImage code = QrImage::make(
            "otpauth://totp/Scanned:desk@example.com?secret=JBSWY3DPEHPK3PXP&issuer=Scanned", 5);
        QImage framed(code.size() + QSize(40, 40), QImage::Format_RGB32);
        framed.fill(Qt::white);
        QPainter(&framed).drawImage(20, 20, code);
        return framed.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    }
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--menu-bar-account") == 0) {
        AccountStore store(UserDefaults::standard(), SecurityLog::shared());
        const int index = QString::fromLatin1(argv[2]).toInt();
        if (index < 0 || index >= store.accounts().size())
            return 1;
        UserDefaults::standard().setValue(Settings::menuBarAccountID.key,
                                          Json::uuidText(store.accounts()[index].id));
        return 0;
    }
    if (argc >= 3 && argc <= 5 && qstrcmp(argv[1], "--hotkey") == 0) {
        AccountStore store(UserDefaults::standard(), SecurityLog::shared());
        const int index = QString::fromLatin1(argv[2]).toInt();
        if (index < 0 || index >= store.accounts().size())
            return 1;
        HotKeyBinding binding;
        int letter = Qt::Key_P;
        for (int i = 3; i < argc; ++i) {
            const QByteArray arg(argv[i]);
            if (arg == "--auto-paste")
                binding.autoPaste = true;
            else if (arg.size() == 1 && arg[0] >= 'A' && arg[0] <= 'Z')
                letter = Qt::Key_A + (arg[0] - 'A');
            else
                return 1;
        }
        binding.accountID = store.accounts()[index].id;
        binding.keyCode = HotKey::keyCodeForQtKey(Qt::Key(letter)).value_or(0);
        binding.modifiers =
            HotKey::carbonModifiers(Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
        AppSettings settings(UserDefaults::standard());
        QList<HotKeyBinding> bindings = settings.bindings();
        bindings.append(binding);
        settings.setBindings(bindings);
        std::printf("%s\n", qPrintable(Json::uuidText(binding.id)));
        return 0;
    }
    if (argc == 4 && qstrcmp(argv[1], "--hotp-account") == 0) {
        // One HOTP account of the RFC 4226 secret at the given counter; its
        // id is printed for AutoFill requests to name it.
        Account account;
        account.issuer = QString::fromUtf8(argv[2]);
        account.name = QStringLiteral("user@example.com");
        account.secret = QByteArray("12345678901234567890");
        account.type = OTPType::hotp;
        account.counter = QString::fromLatin1(argv[3]).toULongLong();
        AccountStore store(UserDefaults::standard(), SecurityLog::shared());
        const int accepted = store.importAccounts({account});
        SecurityLog::shared().waitForIdle();
        std::printf("%s\n", qPrintable(Json::uuidText(account.id)));
        return accepted == 1 && !store.lastError() ? 0 : 1;
    }
    if (argc == 3 && qstrcmp(argv[1], "--counter") == 0) {
        // The counter the keyring holds for the account with this id.
        for (const Account& account : KeychainStore::loadAll().active)
            if (Json::uuidText(account.id) == QString::fromLatin1(argv[2])) {
                std::printf("%llu\n", static_cast<unsigned long long>(account.counter));
                return 0;
            }
        return 1;
    }
    if (argc == 3 && qstrcmp(argv[1], "--delete") == 0) {
        AccountStore store(UserDefaults::standard(), SecurityLog::shared());
        const QList<Account> accounts = store.accounts();
        const int count = QString::fromLatin1(argv[2]).toInt();
        for (int i = 0; i < count && i < accounts.size(); ++i)
            store.deleteAccount(accounts[i].id);
        SecurityLog::shared().waitForIdle();
        return store.lastError() ? 1 : 0;
    }
    if (argc == 2 && qstrcmp(argv[1], "--list-deleted") == 0) {
        try {
            for (const Account& account : KeychainStore::loadAll().deleted)
                std::printf("%s\n", account.displayLabel().toUtf8().constData());
        } catch (const std::exception&) {
            return 1;
        }
        return 0;
    }
    if (argc == 2 && qstrcmp(argv[1], "--list") == 0) {
        AccountStore store(UserDefaults::standard(), SecurityLog::shared());
        for (const Account& account : store.accounts())
            std::printf("%s\n", account.displayLabel().toUtf8().constData());
        return store.lastError() ? 1 : 0;
    }
    const int count = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 4;
    const QStringList issuers = {"GitHub", "Example", "Acme Corp", "Steam", "Dropbox", "Google"};
    QList<Account> accounts;
    for (int i = 0; i < count; ++i) {
        Account account;
        account.issuer =
            issuers[i % issuers.size()] + (i < issuers.size() ? QString() : QString::number(i));
        account.name = QStringLiteral("user%1@example.com").arg(i);
        account.secret = QByteArray("12345678901234567890").append(char('a' + i % 26));
        account.type = i % issuers.size() == 2 ? OTPType::hotp : OTPType::totp;
        account.isSteam = i % issuers.size() == 3;
        account.isFavorite = i == 1;
        accounts.append(account);
    }
    AccountStore store(UserDefaults::standard(), SecurityLog::shared());
    const int accepted = store.importAccounts(accounts);
    SecurityLog::shared().waitForIdle();
    std::printf("seeded %d accounts\n", accepted);
    return store.lastError() ? 1 : 0;
}
