#pragma once

#include "menubar/SecurityCheckup.h"
#include "platform/look/Style.h"

#include <QWidget>

class AccountStore;
class QLabel;
class QListView;
class QStackedWidget;
class StoreProblemLine;

namespace CheckupParts {
class FindingsModel;
}

// The ring that draws a checkup score: a track, and an arc from the top,
// clockwise, as long as the score's share of 100, in the colour of the
// score's band, with the score in its middle. It fills whatever square fits.
class ScoreRingMac : public QWidget {
    Q_OBJECT

public:
    explicit ScoreRingMac(QWidget* parent = nullptr);

    int score() const { return m_score; }
    void setScore(int score);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_score = 100;
};

// The security checkup of the current vault: the score ring with its grade
// and a summary line, then one card per finding (or an all-clear line), read
// afresh whenever the store's accounts change. It only reads. While the
// keyring could not be read it says so instead of scoring an empty list.
//
// The cards are the rows of a list view, drawn by a delegate: a vault of
// thousands has as many findings, and a widget per card made the screen
// take seconds to open (far more with a screen reader's bridge on, which
// follows every widget). The list lays its rows out in batches between
// turns of the event loop and builds a screen reader's view of a card only
// when one asks for it.
class SecurityCheckupMacView : public QWidget {
    Q_OBJECT

public:
    explicit SecurityCheckupMacView(AccountStore& store, QWidget* parent = nullptr);
    ~SecurityCheckupMacView() override;

    // The grade word and the ring colour of a score: 90 and up "Excellent"
    // in green, 70 and up "Good" in mint, 50 and up "Fair" in orange, below
    // that "Needs attention" in red.
    struct Band {
        QString grade;
        Style::SemanticColor colour;
    };
    static Band band(int score);

    ScoreRingMac* ring() const { return m_ring; }

    // What a finding's card shows: a finding shown alike keeps its card.
    struct CardKey {
        SecurityCheckup::Kind kind;
        SecurityCheckup::Severity severity;
        QList<QUuid> accountIDs;
        QString title;
        QString detail;
        friend bool operator==(const CardKey&, const CardKey&) = default;
    };

    // The cards are the rows of the list's model, one each, in order. A row
    // reads as its severity and title ("Critical: Duplicate secret",
    // Qt::AccessibleTextRole) with the detail as its description
    // (Qt::AccessibleDescriptionRole), as a screen reader reads it;
    // symbolRole gives the severity's symbol.
    static constexpr int symbolRole = Qt::UserRole + 1;
    QListView* list() const { return m_list; }

private:
    void refresh();

    AccountStore& m_store;
    StoreProblemLine* m_problem;
    QWidget* m_result;
    ScoreRingMac* m_ring;
    QLabel* m_grade;
    QLabel* m_summary;
    QStackedWidget* m_body;
    QListView* m_list;
    CheckupParts::FindingsModel* m_model;
};

size_t qHash(const SecurityCheckupMacView::CardKey& key, size_t seed = 0);
