#pragma once

#include "views/start/Derive.h"

#include <QImage>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <optional>

class AppModel;
class QLabel;
class QMenu;
class QPushButton;
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

// A segment's energy chip: a dot in the energy's colour, then the energy and the kind.
// Nothing, and no room taken, while the energy is empty.
class Vibe : public QWidget {
    Q_OBJECT
public:
    explicit Vibe(QWidget* parent = nullptr);
    void setSegment(const Segment& segment);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString energy;
    QString text;
};

// A row of a sidebar list: as wide as the list, as tall as its content at that width.
class ListRow : public QWidget {
public:
    explicit ListRow(QWidget* parent);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return {0, sizeHint().height()}; }
    bool hasHeightForWidth() const override { return true; }
};

// One segment of the list: still, title, start, state and how many Shorts use it.
class SegmentRow : public ListRow {
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
    int heightForWidth(int width) const override;
    // Where the state element ("Retry", "Transcribe", the chip) lies now.
    QRectF stateRect() const { return layoutFor(width()).state; }

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
class ShortRow : public ListRow {
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
    QWidget* format;
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
