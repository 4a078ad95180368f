#pragma once

#include "views/start/Rows.h"

#include <QHash>
#include <QUuid>
#include <vector>

class QScrollArea;
class QToolButton;
class QVBoxLayout;

// The workspace's left column: the stream line and map, the list switch, the filter,
// the add and AI buttons, and the segment list or the Shorts and ideas.
class SidebarView : public QWidget {
    Q_OBJECT
public:
    explicit SidebarView(AppModel& model, QWidget* parent = nullptr);

    int tab() const { return shownTab; }
    void setTab(int tab);
    // Runs the coalesced refresh now (tests and benchmarks).
    void refreshNow();
    // Asks to look for ideas: at once, or through the confirmation when there are
    // unopened ideas.
    void lookForIdeas();
    void searchIdeas();

    QMenu* filterMenu() const { return filters; }
    QMenu* aiMenu() const { return ai; }
    QMessageBox* lookAgainDialog() const { return asking; }
    QToolButton* segmentsButton() const { return segmentsTab; }
    QToolButton* shortsButton() const { return shortsTab; }
    Notice* transcribeNoticeRow() const { return transcribeRow; }
    Notice* summaryNoticeRow() const { return summaryRow; }
    // The rows shown in the current list, in order.
    std::vector<SegmentRow*> segmentRows() const;
    std::vector<ShortRow*> shortRows() const;
    std::vector<IdeaCard*> ideaCards() const;
    QLabel* shortsEmptyLabel() const { return shortsEmpty; }
    QLabel* ideasEmptyLabel() const { return ideasEmpty; }
    // How many row widgets were ever made (reuse is checked with it).
    int rowsMade() const { return made; }

private:
    void schedule();
    void refreshHeader();
    void refreshSegments();
    void refreshShorts();
    QWidget* joinRow(const QString& id);
    QLabel* heading(const QString& text, QWidget* parent);
    AppModel& model;
    int shownTab = 0;
    bool pending = false;
    int made = 0;
    QLabel* line;
    StreamMap* map;
    QToolButton* segmentsTab;
    QToolButton* shortsTab;
    QToolButton* filterButton;
    QToolButton* addButton;
    QToolButton* aiButton;
    QMenu* filters;
    QMenu* ai;
    QAction* describe;
    QAction* search;
    std::vector<QAction*> filterChoices;
    QPointer<QMessageBox> asking;
    QScrollArea* scroll;
    QWidget* segmentPage;
    QVBoxLayout* segmentList;
    Notice* transcribeRow;
    Notice* summaryRow;
    std::vector<QString> summarizeIds;
    QHash<QString, SegmentRow*> segmentRowsById;
    QHash<QString, QWidget*> joinsById;
    std::vector<QWidget*> segmentOrder;
    QWidget* shortPage;
    QVBoxLayout* shortList;
    QLabel* shortsEmpty;
    QLabel* ideasHeading;
    QLabel* ideasEmpty;
    QHash<QUuid, ShortRow*> shortRowsById;
    QHash<QUuid, IdeaCard*> cardsById;
    std::vector<QWidget*> shortOrder;
};
