#pragma once

#include <QCoro/QCoroTask>
#include <QDialog>
#include <functional>

class QMessageBox;
class QVBoxLayout;

// Opens `dialog` with open() (window-modal when it has a parent window, never a nested
// event loop) and resumes once it has finished, with its result code. A dialog that is
// destroyed before it finishes counts as rejected. The caller holds the dialog in a
// QPointer to touch it afterwards.
QCoro::Task<int> finished(QDialog* dialog);

// Gives an alert's message room for a sentence or two per line rather than a narrow
// column of words.
void widen(QMessageBox* box);

// The "Rename Short" alert, opened window-modal over `parent`'s window with the Short's
// `title` selected in its field; "Rename" hands `rename` the text as typed. It deletes
// itself when closed.
QDialog* openRenameShort(QWidget* parent, const QString& title, std::function<void(const QString& name)> rename);

// Lays `sheet` out as a titled sheet `width` points wide: a column with `padding` on every
// side, 12 points between its items, as tall as its content, whose first item is `title`
// in the title font (also the window's title). Returns the column for the rest.
QVBoxLayout* sheetColumn(QDialog* sheet, const QString& title, int width, int padding);
