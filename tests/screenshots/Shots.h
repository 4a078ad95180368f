#pragma once

// What the files of the screenshot program share. A file adds its own pictures with
//   static const int registered = Shots::add([] { ... });
// and they are drawn after the editor's, in the order the files were linked.

#include "core/project/Records.h"

#include <QImage>
#include <QString>
#include <functional>

class QWidget;

namespace Shots {

// The folder the pictures go to.
extern QString out;
// Lets queued work, deferred deletes and the fades run out.
void settle(int ms = 300);
// Settles, then writes `w` as <out>/<name>.png and prints the path.
void save(QWidget* w, const QString& name);
// A stream's worth of the editor: three segments with transcripts, peaks and markers,
// and a Short of four cuts, one of them where no segment lies.
Project editorProject();
// A made-up video frame, 1280×720.
QImage frame();
// Registers more pictures; returns how many are registered.
int add(std::function<void()> shots);

} // namespace Shots
