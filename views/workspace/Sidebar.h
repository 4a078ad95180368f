#pragma once

#include "views/workspace/Derive.h"

#include <QHash>
#include <QImage>
#include <QPointer>
#include <QUuid>
#include <QWidget>
#include <vector>

class AppModel;
class QLabel;
class QMenu;
#include <QMessageBox>
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;
class Spinner;

// A strip that maps the whole recording and its segments; a click opens the stream
// window at that moment.
class StreamMap : public QWidget {
    Q_OBJECT
public:
    explicit StreamMap(AppModel& model, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {200, 22}; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;

private:
    AppModel& model;
};

// One segment of the list: still, title, start, state and how many Shorts use it.
class SegmentRow : public QWidget {
    Q_OBJECT
public:
    struct Look {
        Segment segment;
        QImage thumb;
        bool selected = false;
        bool marked = false; // the open Short uses it
        int used = 0;
        bool operator==(const Look& o) const
        {
            return segment == o.segment && thumb.cacheKey() == o.thumb.cacheKey() && selected == o.selected
                && marked == o.marked && used == o.used;
        }
    };
    SegmentRow(AppModel& model, QWidget* parent);
    void setLook(Look look);
    const Look& look() const { return shown; }
    // The context menu as it stands now (the caller owns it).
    QMenu* makeMenu();
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return {0, sizeHint().height()}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    bool event(QEvent*) override;

private:
    struct Layout {
        QRectF thumb, title, info, star, clock, state, used, mark;
        int titleLines = 1;
    };
    Layout layoutFor(int width) const;
    AppModel& model;
    Look shown;
    Spinner* spinner;
};

// One Short of the list, with its rename and revert dialogs.
class ShortRow : public QWidget {
    Q_OBJECT
public:
    struct Look {
        Short item;
        std::optional<Idea> idea;
        bool edited = false;
        bool active = false;
        bool operator==(const Look&) const = default;
    };
    ShortRow(AppModel& model, QWidget* parent);
    void setLook(Look look);
    const Look& look() const { return shown; }
    QMenu* makeMenu();
    void startRename();
    void startRevert();
    QDialog* renameDialog() const { return renaming; }
    QMessageBox* revertDialog() const { return reverting; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return {0, sizeHint().height()}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;

private:
    AppModel& model;
    Look shown;
    QPointer<QDialog> renaming;
    QPointer<QMessageBox> reverting;
};

// One idea of the AI's: what it is, why, its cuts to scale, and "Open".
class IdeaCard : public QWidget {
    Q_OBJECT
public:
    IdeaCard(AppModel& model, QWidget* parent);
    void setIdea(const Idea& idea);
    const Idea& idea() const { return shown; }
    QPushButton* openButton() const { return open; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    AppModel& model;
    Idea shown;
    QLabel* title;
    QLabel* hook;
    QLabel* why;
    QWidget* strip;
    QLabel* format;
    QLabel* footer;
    QPushButton* open;
};

// A line about waiting work, with its cost and a button to run it.
class Notice : public QWidget {
    Q_OBJECT
public:
    Notice(const QString& button, QWidget* parent);
    void setTexts(const QString& sentence, const QString& cost);
    QPushButton* button() const { return run; }
    QString sentence() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QLabel* text;
    QLabel* price;
    QPushButton* run;
};

// The workspace's left column: the stream line and map, the list switch, the filter,
// the add and AI buttons, and the segment list or the Shorts and ideas.
class Sidebar : public QWidget {
    Q_OBJECT
public:
    explicit Sidebar(AppModel& model, QWidget* parent = nullptr);

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
