#pragma once

// What the set-up sheet and the workspace show, worked out from the model's values:
// texts, enabled rules and geometry, kept apart from the widgets so they can be checked
// on their own.

#include "core/project/Records.h"

#include <QColor>
#include <QRect>
#include <QString>
#include <optional>
#include <vector>

// Text from the model as a tooltip: tooltips guess at markup, so it is escaped and
// marked as rich text, and shows exactly as written.
QString plainTip(const QString& text);

// ---- the set-up sheet ----
struct SetupPreview {
    int segments = 0;
    qint64 minutes = 0;
    QString package;  // the file name the project will be written as
    QString sentence; // "… markers become …"
    bool canOpen = false;
    bool operator==(const SetupPreview&) const = default;
};
// `package` is the name `create` will really write; `unwritable`, why it cannot be written
// there, which the sentence says in place of where the work is saved, and which keeps the
// sheet from opening.
SetupPreview setupPreview(const std::vector<double>& marks, double before, double after, double length,
                          bool hasMarkers, const QString& package,
                          const std::optional<QString>& unwritable = std::nullopt);
// A stepper's label: 150 reads "2:30".
QString stepperLabel(double seconds);
QString setupHelp(const QString& transcriber);

// ---- the workspace key map ----
enum class KeyAction { pass, togglePlay, remove, escape, stepBack, stepForward, bigStepBack, bigStepForward,
                       markStart, markEnd, addRange, split, favourite, unrate };
struct KeyContext {
    bool streamKey = false;   // the stream window is active
    bool noWindow = false;    // none of our windows is active
    bool modal = false;       // a popup or a modal dialog is up
    bool textFocus = false;   // a text field, spin box or combo has the focus
};
// `key` a Qt::Key, `text` what it types.
KeyAction decideKey(int key, Qt::KeyboardModifiers modifiers, const QString& text, const KeyContext& context);

// ---- the split confirmation ----
QString splitTitle(const std::optional<QString>& selection, double playhead);
// Empty when no segment is selected.
QString splitMessage(const Project& project, const std::optional<QString>& selection, double playhead);

// ---- the saved window size ----
inline constexpr QSize leastRestored{1180, 720};
// The window's new geometry, or none when the saved size is missing or too small. The
// top-left stays; the window is kept inside `screen` (when known), never past its left
// or top edge.
std::optional<QRect> restoredGeometry(std::optional<double> width, std::optional<double> height, QRect current,
                                      std::optional<QRect> screen);

// ---- the sidebar ----
std::vector<Idea> unopenedIdeas(const Project& project);
int rejectedCount(const Project& project);
QString streamLine(const Project& project);
QString hideRejectedTitle(int rejected);
std::vector<const Segment*> listedSegments(const Project& project, int filter);

enum class Fill { accent, favourite, plain };
struct MapBlock {
    double x = 0;
    double width = 0;
    Fill fill = Fill::plain;
    double opacity = 1;
    bool operator==(const MapBlock&) const = default;
};
std::vector<MapBlock> mapBlocks(const Project& project, const std::optional<QString>& selection, double width);
// The recording time a click at `x` of `width` asks for.
double mapTime(const Project& project, double x, double width);

QString lookAgainMessage(std::optional<double> estimate, int unopened);
QString transcribeNotice(int n);
QString summaryNotice(int n);
QString ideasEmptyText(const Project& project);

// ---- rows ----
enum class RowState { retry, transcribe, vibe, working };
RowState rowState(const Segment& segment);
QString segmentTitle(const Segment& segment);
QString usedText(int shorts);
QString transcribeTip(const Segment& segment);
// "" for an energy that draws nothing.
QString vibeText(const Segment& segment);
QColor vibeColour(const QString& energy);
bool markedByCut(const Segment& segment, const std::vector<Cut>& cuts);
struct ShortInfo {
    QString text;
    bool tooLong = false;
    bool operator==(const ShortInfo&) const = default;
};
ShortInfo shortInfo(const Short& s);
QString revertTitle(const Short& s);
QString revertMessage(const std::optional<Idea>& idea);

// One entry of a context menu; an empty title is a separator, `sub` a submenu's items.
struct MenuEntry {
    MenuEntry() = default;
    MenuEntry(QString t, bool d = false, std::vector<QString> s = {}) : title(std::move(t)), destructive(d), sub(std::move(s)) {}
    QString title;
    bool destructive = false;
    std::vector<QString> sub;
    bool operator==(const MenuEntry&) const = default;
};
std::vector<MenuEntry> segmentMenu(const Segment& segment, bool touchesNext);
std::vector<MenuEntry> shortMenu(bool hasIdea, bool edited);

// ---- the idea card ----
double ideaLength(const Idea& idea);
QString ideaFooter(const Idea& idea);
std::vector<double> barWidths(const Idea& idea, double band);
