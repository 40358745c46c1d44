#include "system/SystemActions.h"

#include "platform/desktop/Accessibility.h"
#include "platform/desktop/SyntheticKeys.h"
#include "platform/system/LoginItem.h"
#include "platform/system/SystemSettings.h"

#include <QCoreApplication>

namespace SystemActions {
namespace {

// The names the macOS build opens; kept so a settings backend that knows
// them (a future desktop integration) gets the same requests.
const QString accessibilityPane = QStringLiteral("Privacy_Accessibility");
const QString loginItemsPane = QStringLiteral("LoginItems");

} // namespace

void typeText(const QString& text, SyntheticKeys::Done done) {
    if (text.isEmpty()) {
        if (done) done(SyntheticKeys::Outcome::sent);
        return;
    }
    SyntheticKeys::type(text, std::move(done));
}

bool openAccessibilitySettings() {
    return SystemSettings::open(accessibilityPane);
}

bool openLoginItemsSettings() {
    return SystemSettings::open(loginItemsPane);
}

QString accessibilitySettingsHelp() {
    if (Accessibility::userGrants())
        return QCoreApplication::translate(
            "SystemActions",
            "Quillet pastes and types through your desktop's remote control portal, which asks "
            "you once for the permission. If it was refused, “Open Settings” asks again; if the "
            "desktop offers no such portal (some wlroots desktops), codes can only be copied.");
    return QCoreApplication::translate(
        "SystemActions", "Quillet pastes and types through the X server's XTEST extension. "
                         "This computer needs no permission for it; if it fails, the X server does "
                         "not offer XTEST.");
}

QString loginItemsSettingsHelp() {
    return QCoreApplication::translate(
               "SystemActions",
               "Quillet cannot open your desktop's startup settings. It starts at login from %1; "
               "switching “Launch Quillet at login” on here turns that entry on again.")
        .arg(LoginItem::desktopFilePath());
}

std::optional<QString> setLaunchAtLogin(bool on) {
    const bool enabled = LoginItem::status() == LoginItem::Status::enabled;
    if (on == enabled) return std::nullopt;
    QString error;
    const bool done = on ? LoginItem::registerItem(&error) : LoginItem::unregisterItem(&error);
    if (done) return std::nullopt;
    return error;
}

} // namespace SystemActions
