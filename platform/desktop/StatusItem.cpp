#include "platform/desktop/StatusItem.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QSystemTrayIcon>
#include <QtEndian>

// The status-notifier protocol's picture: width, height, and the pixels as
// ARGB32 in network byte order.
struct StatusIconPixmap {
    int width = 0;
    int height = 0;
    QByteArray pixels;
};
using StatusIconPixmaps = QList<StatusIconPixmap>;

// Its tooltip: an icon name, pictures, a title and a text.
struct StatusToolTip {
    QString iconName;
    StatusIconPixmaps pixmaps;
    QString title;
    QString text;
};

Q_DECLARE_METATYPE(StatusIconPixmap)
Q_DECLARE_METATYPE(StatusIconPixmaps)
Q_DECLARE_METATYPE(StatusToolTip)

QDBusArgument& operator<<(QDBusArgument& argument, const StatusIconPixmap& pixmap) {
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.pixels;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, StatusIconPixmap& pixmap) {
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.pixels;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const StatusToolTip& tip) {
    argument.beginStructure();
    argument << tip.iconName << tip.pixmaps << tip.title << tip.text;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, StatusToolTip& tip) {
    argument.beginStructure();
    argument >> tip.iconName >> tip.pixmaps >> tip.title >> tip.text;
    argument.endStructure();
    return argument;
}

namespace {

StatusIconPixmaps pixmapsOf(const QIcon& icon) {
    StatusIconPixmaps out;
    for (int side : {16, 22, 24, 32, 48, 64}) {
        const QImage image =
            icon.pixmap(side, side).toImage().convertToFormat(QImage::Format_ARGB32).scaled(
                side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        StatusIconPixmap pixmap{side, side, QByteArray(side * side * 4, Qt::Uninitialized)};
        auto* target = reinterpret_cast<uchar*>(pixmap.pixels.data());
        for (int y = 0; y < side; ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < side; ++x)
                qToBigEndian<quint32>(line[x], target + (y * side + x) * 4);
        }
        out.append(pixmap);
    }
    return out;
}

} // namespace

// The item as the session bus sees it (interface org.kde.StatusNotifierItem,
// with the Ayatana label that AppIndicator hosts show beside the icon).
class StatusNotifierItem : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ empty)
    Q_PROPERTY(QString IconName READ empty)
    Q_PROPERTY(StatusIconPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ empty)
    Q_PROPERTY(StatusIconPixmaps OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ empty)
    Q_PROPERTY(StatusIconPixmaps AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ empty)
    Q_PROPERTY(StatusToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(QString XAyatanaLabel READ label)
    Q_PROPERTY(QString XAyatanaLabelGuide READ labelGuide)
    Q_PROPERTY(uint XAyatanaOrderingIndex READ orderingIndex)

public:
    StatusNotifierItem(StatusItem& owner, const QString& id, const QString& title,
                       const QIcon& icon)
        : QObject(&owner), m_owner(owner), m_id(id), m_title(title),
          m_pixmaps(pixmapsOf(icon)) {}

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return m_id; }
    QString title() const { return m_title; }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString empty() const { return {}; }
    StatusIconPixmaps iconPixmap() const { return m_pixmaps; }
    StatusIconPixmaps noPixmaps() const { return {}; }
    StatusToolTip toolTip() const { return {QString(), {}, m_title, m_owner.toolTip()}; }
    bool itemIsMenu() const { return false; }
    // No menu of our own: a secondary click arrives as ContextMenu.
    QDBusObjectPath menu() const { return QDBusObjectPath(QStringLiteral("/NO_DBUSMENU")); }
    QString label() const { return m_owner.label(); }
    // The widest text the label will hold, so hosts keep its width steady.
    QString labelGuide() const { return QString(m_owner.label().size(), QLatin1Char('0')); }
    uint orderingIndex() const { return 0; }

public slots:
    void Activate(int x, int y) { emit m_owner.activated(point(x, y)); }
    void SecondaryActivate(int, int) {}
    void ContextMenu(int x, int y) { emit m_owner.contextMenuRequested(point(x, y)); }
    void Scroll(int, const QString&) {}
    void ProvideXdgActivationToken(const QString&) {}

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);
    void XAyatanaNewLabel(const QString& label, const QString& guide);

private:
    // Hosts that know no position send 0, 0.
    static QPoint point(int x, int y) { return x == 0 && y == 0 ? QPoint() : QPoint(x, y); }

    StatusItem& m_owner;
    QString m_id;
    QString m_title;
    StatusIconPixmaps m_pixmaps;
};

StatusItem::StatusItem(const QString& id, const QString& title, const QIcon& icon,
                       QObject* parent)
    : QObject(parent), m_id(id), m_title(title), m_icon(icon) {
    static const bool typesRegistered = [] {
        qDBusRegisterMetaType<StatusIconPixmap>();
        qDBusRegisterMetaType<StatusIconPixmaps>();
        qDBusRegisterMetaType<StatusToolTip>();
        return true;
    }();
    Q_UNUSED(typesRegistered);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        auto* watcher = new QDBusServiceWatcher(watcherService, bus,
                                                QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(watcher, &QDBusServiceWatcher::serviceRegistered, this,
                &StatusItem::watcherAppeared);
        connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this,
                &StatusItem::watcherVanished);
    }
    if (watcherRunning())
        useNotifierItem();
    else if (dock().hasTray())
        useSystemTray();
    // Otherwise the item waits for a watcher to appear.
}

StatusItem::~StatusItem() {
    if (m_item) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(itemPath);
        bus.unregisterService(m_serviceName);
    }
}

bool StatusItem::watcherRunning() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()->isServiceRegistered(watcherService).value();
}

bool StatusItem::isAvailable() {
    // Asked only without a watcher: Qt's own tray icon decides once per
    // process whether it goes through a watcher, and must never do so here.
    return watcherRunning() || dock().trayAvailable();
}

QString StatusItem::serviceName() const {
    return m_backend == Backend::notifierItem ? m_serviceName : QString();
}

void StatusItem::watcherAppeared() {
    if (m_backend == Backend::notifierItem)
        registerWithWatcher(); // a restarted watcher knows no items
    else
        useNotifierItem();
}

void StatusItem::watcherVanished() {
    // The item stays on the bus, ready for the next watcher; a tray icon
    // now could be the second item when that watcher comes.
}

void StatusItem::useNotifierItem() {
    if (m_tray) {
        m_tray->hide();
        delete m_tray;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!m_item) {
        static int counter = 0;
        m_serviceName = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                            .arg(QCoreApplication::applicationPid())
                            .arg(++counter);
        m_item = new StatusNotifierItem(*this, m_id, m_title, m_icon);
        bus.registerService(m_serviceName);
        bus.registerObject(itemPath, m_item,
                           QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSlots |
                               QDBusConnection::ExportAllSignals);
    }
    m_backend = Backend::notifierItem;
    registerWithWatcher();
    emit backendChanged(m_backend);
}

void StatusItem::registerWithWatcher() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        watcherService, watcherPath, watcherService, QStringLiteral("RegisterStatusNotifierItem"));
    call << m_serviceName;
    // Not waited for: a watcher that hangs must not hold up the program.
    QDBusConnection::sessionBus().asyncCall(call);
}

void StatusItem::useSystemTray() {
    auto* tray = new QSystemTrayIcon(m_icon, this);
    m_tray = tray;
    tray->setToolTip(m_toolTip.isEmpty() ? m_title : m_title + QLatin1Char('\n') + m_toolTip);
    connect(tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            emit activated(QPoint());
        else if (reason == QSystemTrayIcon::Context)
            emit contextMenuRequested(QPoint());
    });
    tray->show();
    m_backend = Backend::systemTray;
    emit backendChanged(m_backend);
}

void StatusItem::setLabel(const QString& text) {
    if (text == m_label)
        return;
    m_label = text;
    if (m_item)
        emit m_item->XAyatanaNewLabel(m_label, m_item->labelGuide());
}

void StatusItem::setToolTip(const QString& text) {
    if (text == m_toolTip)
        return;
    m_toolTip = text;
    if (m_tray)
        m_tray->setToolTip(m_toolTip.isEmpty() ? m_title
                                               : m_title + QLatin1Char('\n') + m_toolTip);
    if (m_item)
        emit m_item->NewToolTip();
}

StatusHosts::StatusHosts(QObject* parent)
    : QObject(parent), m_watcher(StatusItem::watcherRunning()) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    auto* watcher = new QDBusServiceWatcher(StatusItem::watcherService, bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                m_watcher = !owner.isEmpty();
                emit changed();
            });
}

bool StatusHosts::available() const {
    // The tray only without a watcher, as StatusItem::isAvailable() asks.
    return m_watcher || StatusItem::dock().trayAvailable();
}

QRect StatusItem::geometry() const { return m_tray ? m_tray->geometry() : QRect(); }

#include "StatusItem.moc"
