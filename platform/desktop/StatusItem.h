#pragma once

#include "platform/desktop/BackendChoice.h"

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>

class QSystemTrayIcon;
class StatusNotifierItem;

// The program's icon in the desktop's panel. Where a StatusNotifierWatcher
// runs on the session bus (the status-notifier protocol of KDE, and of the
// AppIndicator hosts of GNOME, XFCE, MATE and Budgie), it is a
// StatusNotifierItem of our own, whose label shows a short text beside the
// icon; elsewhere on X11 it is an icon in the XEmbed system tray, which can show
// that text only in its tooltip. One item at a time, never both: an XEmbed
// icon makes way for a notifier item as soon as a watcher appears, and a
// notifier item registers again whenever a watcher (re)starts.
class StatusItem : public QObject {
    Q_OBJECT

public:
    enum class Backend {
        none,         // no watcher and no tray yet
        notifierItem, // our item on the session bus
        systemTray,   // QSystemTrayIcon (XEmbed)
    };

    inline static const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
    inline static const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
    inline static const QString itemPath = QStringLiteral("/StatusNotifierItem");

    // `id` names the item to hosts (e.g. "quillet"); `title` is its name
    // for people.
    StatusItem(const QString& id, const QString& title, const QIcon& icon,
               QObject* parent = nullptr);
    ~StatusItem() override;

    Backend backend() const { return m_backend; }
    // The bus name our item is registered under; empty unless a notifier item.
    QString serviceName() const;

    // Where the icon may dock when no watcher runs, by the road (chosen with
    // the others in DesktopBackends): the X11 road docks in an XEmbed tray
    // (x11/StatusItemX11.cpp); the portals' road has none (a Wayland session
    // offers no XEmbed tray, not even to XWayland clients) and waits for a
    // watcher (portal/StatusItemPortal.cpp).
    class Dock {
    public:
        virtual ~Dock() = default;
        // Whether the road has an XEmbed tray to dock in without a watcher.
        virtual bool hasTray() const = 0;
        // Whether such a tray is there now.
        virtual bool trayAvailable() const = 0;
    };
    static Dock& x11Dock();
    static Dock& portalDock();
    inline static BackendChoice<Dock> dock{x11Dock, portalDock};

    // Whether a StatusNotifierWatcher owns its name on the session bus now.
    static bool watcherRunning();
    // Whether a host can show an item right now: a watcher or an XEmbed tray.
    static bool isAvailable();

    // The text beside the icon (a notifier item's label); empty shows the
    // icon alone. Hosts hear of it only when it changes.
    void setLabel(const QString& text);
    QString label() const { return m_label; }
    // The tooltip: the title, and beneath it `text` when there is any.
    void setToolTip(const QString& text);
    QString toolTip() const { return m_toolTip; }

    // Where the icon is on screen, when the backend knows it (the XEmbed
    // tray does; a notifier item learns a position only with a click).
    QRect geometry() const;

signals:
    // A primary click on the icon, at `position` in screen coordinates, or
    // a null point when the host gave none.
    void activated(const QPoint& position);
    // A secondary click, where a host offers its own menu otherwise.
    void contextMenuRequested(const QPoint& position);
    void backendChanged(StatusItem::Backend backend);

private:
    void watcherAppeared();
    void watcherVanished();
    void useNotifierItem();
    void useSystemTray();
    void registerWithWatcher();

    QString m_id;
    QString m_title;
    QIcon m_icon;
    QString m_label;
    QString m_toolTip;
    Backend m_backend = Backend::none;
    QPointer<QSystemTrayIcon> m_tray;
    StatusNotifierItem* m_item = nullptr;
    QString m_serviceName;
};

// Whether a host for the icon is there, followed while it lives: a
// StatusNotifierWatcher that starts or ends on the session bus is heard at
// once; an XEmbed tray (X11 only), which announces nothing to Qt, is looked
// at again with each available() once no watcher runs.
class StatusHosts : public QObject {
    Q_OBJECT

public:
    explicit StatusHosts(QObject* parent = nullptr);

    // As StatusItem::isAvailable(), without asking the bus again.
    bool available() const;

signals:
    // A watcher started or ended.
    void changed();

private:
    bool m_watcher = false;
};
