#pragma once

// The right-hand panel of the workspace: the selected segment (its header, rating,
// summary and transcript, and the marked range), or, while a Short plays in the viewer,
// that Short's transcript.

#include "core/project/Records.h"
#include "views/kit/Coalesce.h"

#include <QWidget>

class AppModel;
class QLabel;
class QPushButton;
class QStackedLayout;
class QToolButton;
class ShortTranscript;
class Spinner;
class Transcript;
class Vibe;
enum class Mode;

namespace inspector {

enum class Panel { none, segment, shortClip };
// Which panel shows: the Short's transcript in Short mode when the active Short exists,
// else the selected segment when there is one, else nothing.
Panel panelFor(Mode mode, const Project& project, const std::optional<QString>& selection,
               const std::optional<QUuid>& activeShort);
// "Segment 06 · 0:12:30 to 0:16:00".
QString titleLine(const Segment& segment);
// What the body under the header shows.
enum class Body { transcript, failed, waiting };
Body bodyFor(const Segment& segment);

} // namespace inspector

// The selected segment's inspector.
class SegmentPane : public QWidget {
    Q_OBJECT
public:
    explicit SegmentPane(AppModel& model, QWidget* parent = nullptr);
    void present(const Segment& segment);

    QLabel* titleLine;
    QToolButton* favourite;
    QToolButton* reject;
    QLabel* heading;
    Vibe* vibe;
    QPushButton* summarize;
    QLabel* summary;
    QLabel* unsure;
    Transcript* transcript;
    QWidget* waiting;
    QWidget* failed;
    QLabel* error;
    QWidget* marked;
    QLabel* markedLength;

private:
    AppModel& model;
    QString id;
    QStackedLayout* body;
};

class InspectorView : public QWidget {
    Q_OBJECT
public:
    explicit InspectorView(AppModel& model, QWidget* parent = nullptr);

    inspector::Panel panel() const { return shown; }
    SegmentPane* segment;
    ShortTranscript* shortTranscript;
    // Rebuilds the panel from the model at once (refreshes are otherwise coalesced).
    void refresh();

protected:
    void paintEvent(QPaintEvent*) override;

private:
    AppModel& model;
    Coalesce later;
    QStackedLayout* stack;
    QWidget* empty;
    inspector::Panel shown = inspector::Panel::none;
};
