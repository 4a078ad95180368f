#pragma once

// The program's extra top-level windows ("activity", "stream"), each made on its first
// request and brought to the front when asked for again. The shell registers how each is
// made; any view opens one by its id.

#include <QString>
#include <functional>

class QWidget;

namespace Windows {

void define(const QString& id, std::function<QWidget*()> make);
// Shows the window (making it first when it does not exist yet) and returns it; none
// for an id nobody defined.
QWidget* open(const QString& id);
// The window when it has been made and not destroyed since.
QWidget* existing(const QString& id);
// Forgets every definition and closes the windows made (tests).
void reset();

} // namespace Windows
