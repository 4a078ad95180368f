#pragma once

// The transcript of the active Short: one group per cut (its number, where it comes from,
// the lines it plays in Short time), the line under the playhead lit, and the line just
// before and after each cut offered as a faded ghost that stretches the cut to take it in.

#include "core/project/Records.h"

#include <QWidget>
#include <optional>
#include <vector>

class AppModel;
class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace shortscript {

// The lines of the source segment that a cut plays: overlapping it by more than 0.05 s.
std::vector<int> linesWithin(const std::vector<Line>& lines, const Cut& cut);
// The nearest line ending by the cut's start (+0.05 s), scanning from the last line.
std::optional<int> ghostBefore(const std::vector<Line>& lines, const Cut& cut);
// The first line starting at or after the cut's end (−0.05 s).
std::optional<int> ghostAfter(const std::vector<Line>& lines, const Cut& cut);
// "Short · 3 cuts · 0:42.5".
QString caption(int cuts, double length);
// Where line `line` plays within the cut that starts at Short time `offset`: its start and
// end in Short time, clipped to the cut.
std::pair<double, double> lineSpan(const Line& line, const Cut& cut, double offset);

} // namespace shortscript

class ShortTranscript : public QWidget {
    Q_OBJECT
public:
    explicit ShortTranscript(AppModel& model, QWidget* parent = nullptr);

    // Builds the groups again when what they show has changed.
    void rebuild();
    // The clock moved: lights the line under it; while playing, a new cut scrolls to the top.
    void tick();

    // What the groups show, for tests.
    struct Shown {
        QWidget* row;
        int cut;
        double start;
        double end;
    };
    const std::vector<Shown>& rows() const { return shown; }
    const std::vector<QWidget*>& groups() const { return groupWidgets; }
    QScrollArea* scroll;
    QLabel* header;
    QLabel* title;

private:
    QWidget* group(int index, const Cut& cut, double offset);
    void style(const Shown& row, bool now);
    AppModel& model;
    QVBoxLayout* list;
    std::vector<Shown> shown;
    std::vector<QWidget*> groupWidgets;
    std::optional<size_t> lit;
    std::optional<int> cutUnder;
    // What the groups were built from: the Short and the segments under its cuts.
    struct Source {
        std::optional<Short> shortClip;
        std::vector<std::optional<Segment>> segments;
        bool operator==(const Source&) const = default;
    };
    std::optional<Source> built;
};
