#pragma once

#include <QCoro/QCoroTask>
#include <QDialog>

class QMessageBox;

// Opens `dialog` with open() (window-modal when it has a parent window, never a nested
// event loop) and resumes once it has finished, with its result code. A dialog that is
// destroyed before it finishes counts as rejected. The caller holds the dialog in a
// QPointer to touch it afterwards.
QCoro::Task<int> finished(QDialog* dialog);

// Gives an alert's message room for a sentence or two per line rather than a narrow
// column of words.
void widen(QMessageBox* box);
