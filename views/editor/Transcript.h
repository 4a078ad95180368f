#pragma once

// A segment's transcript: one row per line, the line under the playhead lit, the selected
// lines and the lines a cut of the active Short uses marked. A click selects a line (Shift
// widens the selection), a double-click corrects it in place. Only rows whose marks
// change are painted again, so a transcript of hundreds of lines follows the clock cheaply.
//
// The first press of a double-click cannot know that a second will follow, and a click
// seeks and marks. So a click counts only once the double-click time has passed, or as soon
// as a key or another press comes; until then its row shows as selected, so the hand gets
// its answer at once. A double-click drops the waiting click: selection, mark and playhead
// stay as they were.

#include "core/project/Records.h"

#include <QAbstractListModel>
#include <QListView>
#include <QStyledItemDelegate>
#include <QTimer>
#include <optional>
#include <vector>

class AppModel;
struct LineRange;

namespace transcript {

// The first line holding `t` (its start included, its end not); none between lines.
std::optional<int> nowIndex(const std::vector<Line>& lines, double t);
// The line overlaps some cut by more than 0.05 s at both edges.
bool lineUsed(const Line& line, const std::vector<Cut>& cuts);
// A line's time: M:SS under an hour, H:MM:SS from one hour on.
QString lineTime(double seconds);
// The first line that ends after `t`: where the list turns to when a range starts at `t`.
std::optional<int> firstEndingAfter(const std::vector<Line>& lines, double t);

} // namespace transcript

// The rows' marks, kept beside the lines so that a change repaints only its rows.
class LineModel : public QAbstractListModel {
    Q_OBJECT
public:
    struct Row {
        bool key = false;
        bool now = false;
        bool selected = false;
        bool used = false;
        bool operator==(const Row&) const = default;
    };
    using QAbstractListModel::QAbstractListModel;

    // A new segment or new lines: every row again. Otherwise only the changed marks.
    void setLines(const QString& segment, const std::vector<Line>& lines);
    // The same lines at the same times with some texts changed (a correction): those rows
    // again, without a reset, so that the list keeps its place. False when it is more.
    bool retext(const QString& segment, const std::vector<Line>& lines);
    void mark(std::optional<qint64> keyLine, const std::optional<LineRange>& selected, const std::vector<Cut>& cuts);
    // The lit line; true when it changed.
    bool setNow(std::optional<int> index);

    const QString& segment() const { return segmentId; }
    const std::vector<Line>& lines() const { return held; }
    const Row& row(int i) const { return rows[size_t(i)]; }
    std::optional<int> now() const { return lit; }
    // The width of the time column: the widest label of these lines.
    int timeWidth() const { return timeColumn; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void change(int i, const Row& next);
    QString segmentId;
    std::vector<Line> held;
    std::vector<Row> rows;
    std::optional<int> lit;
    int timeColumn = 0;
};

class LineDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    LineDelegate(const LineModel& lines, QListView* view);
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    // Only Return writes a correction, through the model's operation: leaving the field
    // writes nothing.
    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

Q_SIGNALS:
    void submitted(const QString& text);

private:
    int textWidth() const;
    const LineModel& lines;
    QListView* view;
};

class Transcript : public QListView {
    Q_OBJECT
public:
    explicit Transcript(AppModel& model, QWidget* parent = nullptr);
    ~Transcript() override;

    // Shows `segment`'s lines (it has lines). An open correction of another segment, or
    // of lines that changed meanwhile, is dropped.
    void present(const Segment& segment);
    // The clock moved: lights the line under it, and follows it while playing.
    void tick();

    // The correction under way: what was opened, so that a draft lands only on its line.
    struct Correction {
        QString segment;
        int line = 0;
        QString original;
    };
    const std::optional<Correction>& correction() const { return editing; }
    void startCorrection(int line);
    // Writes the draft (Return), or drops it.
    void submit(const QString& draft);
    void discard();

    // A click waits to be told from the first press of a double-click.
    bool clickPending() const { return pending.has_value(); }

    LineModel lines;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    struct Click {
        QString segment;
        int line = 0;
        bool extend = false;
    };
    void followRange();
    void markRows();
    // The selection the rows show: the model's, or what the waiting click will make of it.
    std::optional<LineRange> shownSelection() const;
    void press(int line, bool extend);
    // The waiting click counts now, or is dropped.
    void commitClick();
    void dropClick();
    AppModel& model;
    LineDelegate* delegate;
    QTimer clickTimer;
    std::optional<Click> pending;
    std::optional<qint64> keyLine;
    std::optional<Correction> editing;
    std::optional<double> rangeKey;
    bool rangeKnown = false;
};
