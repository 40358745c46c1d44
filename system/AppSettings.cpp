#include "system/AppSettings.h"

#include "core/Json.h"
#include "platform/files/UserDefaults.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

namespace {

// A present, non-null key that is not a 32-bit unsigned number fails the
// binding; a missing or null one keeps the default.
bool readUInt32(const QJsonObject& object, const char* key, quint32& out) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) return true;
    const std::optional<quint64> number = Json::toUInt64(value);
    if (!number || *number > 0xFFFFFFFFull) return false;
    out = static_cast<quint32>(*number);
    return true;
}

bool readBoolean(const QJsonObject& object, const char* key, bool& out) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) return true;
    if (!value.isBool()) return false;
    out = value.toBool();
    return true;
}

std::optional<QUuid> parseUuid(const QString& text) {
    return Json::toUuid(QJsonValue(text));
}

} // namespace

QJsonObject HotKeyBinding::toJson() const {
    QJsonObject object{
        {QStringLiteral("id"), Json::uuidText(id)},
        {QStringLiteral("keyCode"), static_cast<qint64>(keyCode)},
        {QStringLiteral("modifiers"), static_cast<qint64>(modifiers)},
        {QStringLiteral("enabled"), enabled},
        {QStringLiteral("autoPaste"), autoPaste},
    };
    if (accountID) object.insert(QStringLiteral("accountID"), Json::uuidText(*accountID));
    return object;
}

std::optional<HotKeyBinding> HotKeyBinding::fromJson(const QJsonValue& value) {
    if (!value.isObject()) return std::nullopt;
    const QJsonObject object = value.toObject();
    HotKeyBinding binding;
    for (const char* key : {"id", "accountID"}) {
        const QJsonValue text = object.value(QLatin1String(key));
        if (text.isUndefined() || text.isNull()) continue;
        const std::optional<QUuid> uuid = Json::toUuid(text);
        if (!uuid) return std::nullopt;
        if (qstrcmp(key, "id") == 0)
            binding.id = *uuid;
        else
            binding.accountID = *uuid;
    }
    if (!readUInt32(object, "keyCode", binding.keyCode) ||
        !readUInt32(object, "modifiers", binding.modifiers) ||
        !readBoolean(object, "enabled", binding.enabled) ||
        !readBoolean(object, "autoPaste", binding.autoPaste))
        return std::nullopt;
    return binding;
}

QByteArray HotKeyBinding::encodeList(const QList<HotKeyBinding>& bindings) {
    QJsonArray array;
    for (const HotKeyBinding& binding : bindings)
        array.append(binding.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

QList<HotKeyBinding> HotKeyBinding::decodeList(const QByteArray& data) {
    const std::optional<QJsonDocument> document = Json::parse(data);
    if (!document || !document->isArray()) return {};
    QList<HotKeyBinding> bindings;
    for (const QJsonValue& element : document->array())
        if (std::optional<HotKeyBinding> binding = fromJson(element)) bindings.append(*binding);
    return bindings;
}

AppSettings::AppSettings(UserDefaults& defaults, QObject* parent)
    : QObject(parent), m_defaults(defaults) {
    m_bindings = storedBindings();
    m_showCodeInMenuBar = readBool(Settings::showCodeInMenuBar);
    m_menuBarAccountID = storedMenuBarAccountID();
    m_revealCodesInMenu = readBool(Settings::revealCodesInMenu);
    m_menuBarHiddenAccountIDs = storedHiddenAccountIDs();
    m_quickLauncherEnabled = readBool(Settings::quickLauncherEnabled);
    m_menuBarOnly = readBool(Settings::menuBarOnly);
}

bool AppSettings::readBool(const Settings::Entry<bool>& setting) const {
    return m_defaults.flag(setting.key, setting.defaultValue);
}

QList<HotKeyBinding> AppSettings::storedBindings() const {
    if (const std::optional<QByteArray> data = m_defaults.data(Settings::hotkeyBindings.key))
        return HotKeyBinding::decodeList(*data);
    return {};
}

std::optional<QUuid> AppSettings::storedMenuBarAccountID() const {
    if (const std::optional<QString> text = m_defaults.string(Settings::menuBarAccountID.key))
        return parseUuid(*text);
    return std::nullopt;
}

QSet<QUuid> AppSettings::storedHiddenAccountIDs() const {
    // The INI file cannot tell a one-element list from a single string, so a
    // string counts as a list of one.
    const QVariant hidden = m_defaults.value(Settings::menuBarHiddenAccountIDs.key);
    QStringList texts;
    if (hidden.typeId() == QMetaType::QStringList)
        texts = hidden.toStringList();
    else if (hidden.typeId() == QMetaType::QString)
        texts = QStringList{hidden.toString()};
    QSet<QUuid> ids;
    for (const QString& text : texts)
        if (const std::optional<QUuid> id = parseUuid(text)) ids.insert(*id);
    return ids;
}

// Each setter below keeps the new value only when the settings file took it
// (a full disk or a read-only folder refuses it, and UserDefaults tells why):
// otherwise it goes back to what is stored, and its signal lets every view
// show that.

void AppSettings::setBindings(const QList<HotKeyBinding>& bindings) {
    m_bindings = bindings;
    if (!m_defaults.setValue(Settings::hotkeyBindings.key, HotKeyBinding::encodeList(m_bindings)))
        m_bindings = storedBindings();
    emit bindingsChanged();
}

void AppSettings::setShowCodeInMenuBar(bool show) {
    m_showCodeInMenuBar = show;
    if (!m_defaults.setValue(Settings::showCodeInMenuBar.key, show))
        m_showCodeInMenuBar = readBool(Settings::showCodeInMenuBar);
    emit showCodeInMenuBarChanged();
}

void AppSettings::setMenuBarAccountID(std::optional<QUuid> id) {
    m_menuBarAccountID = id;
    const bool stored = id ? m_defaults.setValue(Settings::menuBarAccountID.key, Json::uuidText(*id))
                           : m_defaults.remove(Settings::menuBarAccountID.key);
    if (!stored) m_menuBarAccountID = storedMenuBarAccountID();
    emit menuBarAccountIDChanged();
}

void AppSettings::setRevealCodesInMenu(bool reveal) {
    m_revealCodesInMenu = reveal;
    if (!m_defaults.setValue(Settings::revealCodesInMenu.key, reveal))
        m_revealCodesInMenu = readBool(Settings::revealCodesInMenu);
    emit revealCodesInMenuChanged();
}

void AppSettings::setMenuBarHiddenAccountIDs(const QSet<QUuid>& ids) {
    m_menuBarHiddenAccountIDs = ids;
    QStringList texts;
    for (const QUuid& id : ids)
        texts.append(Json::uuidText(id));
    if (!m_defaults.setValue(Settings::menuBarHiddenAccountIDs.key, texts))
        m_menuBarHiddenAccountIDs = storedHiddenAccountIDs();
    emit menuBarHiddenAccountIDsChanged();
}

void AppSettings::setQuickLauncherEnabled(bool enabled) {
    m_quickLauncherEnabled = enabled;
    if (!m_defaults.setValue(Settings::quickLauncherEnabled.key, enabled))
        m_quickLauncherEnabled = readBool(Settings::quickLauncherEnabled);
    emit quickLauncherEnabledChanged();
}

void AppSettings::setMenuBarOnly(bool menuBarOnly) {
    m_menuBarOnly = menuBarOnly;
    if (!m_defaults.setValue(Settings::menuBarOnly.key, menuBarOnly))
        m_menuBarOnly = readBool(Settings::menuBarOnly);
    emit menuBarOnlyChanged();
}

void AppSettings::addBinding() {
    QList<HotKeyBinding> bindings = m_bindings;
    HotKeyBinding binding;
    binding.modifiers = newBindingModifiers;
    bindings.append(binding);
    setBindings(bindings);
}

void AppSettings::removeBinding(const QUuid& id) {
    QList<HotKeyBinding> bindings = m_bindings;
    bindings.removeIf([&](const HotKeyBinding& binding) { return binding.id == id; });
    setBindings(bindings);
}

void AppSettings::toggleHidden(const QUuid& accountID, bool shown) {
    QSet<QUuid> ids = m_menuBarHiddenAccountIDs;
    if (shown)
        ids.remove(accountID);
    else
        ids.insert(accountID);
    setMenuBarHiddenAccountIDs(ids);
}
