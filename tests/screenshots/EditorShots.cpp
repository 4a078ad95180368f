// The segment inspector up close: a correction being typed over a selected line, and the
// header's mood line beside a long title.

#include "Shots.h"

#include "model/lifecycle/AppModel.h"
#include "support/FakePlayer.h"
#include "views/editor/Inspector.h"
#include "views/editor/Transcript.h"

#include <QPlainTextEdit>
#include <QTextCursor>

using namespace Shots;

namespace {

void editorShots()
{
    AppModel model(std::make_unique<FakePlayer>(), std::make_unique<FakePlayer>());
    Project p = editorProject();
    Segment& first = p.segments[0];
    first.title = QStringLiteral("Everyone said left, and the roof was where it all went wrong");
    first.energy = QStringLiteral("tense");
    first.kind = QStringLiteral("fail");
    model.setProject(p);
    model.setSelection(first.id);
    model.selectLine(5, false); // the line corrected is selected and under the playhead
    model.selectLine(6, true);

    InspectorView inspector(model);
    inspector.resize(400, 680);
    inspector.show();
    settle();
    save(&inspector, QStringLiteral("inspector-mood"));

    // Half-way through typing a longer text than the line held.
    Transcript* transcript = inspector.segment->transcript;
    transcript->startCorrection(5);
    settle();
    auto* field = qobject_cast<QPlainTextEdit*>(transcript->indexWidget(transcript->lines.index(5)));
    if (field) {
        field->selectAll();
        QTextCursor cursor = field->textCursor();
        cursor.insertText(QStringLiteral("he's reloading, push now, push push push, go go go before the "
                                         "second one turns"));
        field->setTextCursor(cursor);
    }
    settle();
    save(&inspector, QStringLiteral("inspector-correction-typing"));
    transcript->discard();
}

const int registered = Shots::add(editorShots);

} // namespace
