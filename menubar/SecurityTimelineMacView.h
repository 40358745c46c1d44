#pragma once

#include "core/SecurityLog.h"
#include "platform/look/Style.h"

#include <QFutureWatcher>
#include <QLocale>
#include <QWidget>

class QLabel;
class QListView;
class TimelineModel;

// The security timeline: whether the log's hash chain verifies, and every
// recorded event, newest first. Each time it comes on screen it takes one
// snapshot of the log on a worker thread (the log's file may be long, and
// verifying it hashes every entry); it never writes to the log.
class SecurityTimelineMacView : public QWidget {
    Q_OBJECT

public:
    explicit SecurityTimelineMacView(SecurityLog& log, QWidget* parent = nullptr);

    // The latest snapshot's entries, oldest first; whether its chain was
    // intact; whether any snapshot has arrived yet.
    const QList<AuditEntry>& entries() const { return m_entries; }
    bool isIntact() const { return m_fault.kind == TimelineFault::none; }
    bool isLoaded() const { return m_loaded; }
    // The rows on screen (newest first).
    QListView* list() const { return m_list; }

    // The symbol, its colour and the title that stand for an event type; an
    // unknown type is shown as itself.
    struct EventLook {
        QString symbol;
        Style::SemanticColor colour;
        QString title;
    };
    static EventLook look(const QString& type);
    // Day, abbreviated month, hour and minute, arranged as the locale
    // arranges them, in local time.
    static QString timeText(qint64 unixMillis, const QLocale& locale = QLocale());

    // Takes a new snapshot (done by itself each time the view is shown).
    void load();

signals:
    // A snapshot has arrived and is on screen.
    void loaded();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void apply(const SecurityLog::Snapshot& snapshot);
    void refresh();
    // The banner's heading and the sentence under it.
    QString heading() const;
    QString explanation() const;

    SecurityLog& m_log;
    QList<AuditEntry> m_entries;
    TimelineFault m_fault;
    bool m_loaded = false;
    QFutureWatcher<SecurityLog::Snapshot> m_loading;

    QLabel* m_bannerSymbol;
    QLabel* m_bannerTitle;
    QLabel* m_bannerText;
    QLabel* m_empty;
    QListView* m_list;
    TimelineModel* m_model;
};
