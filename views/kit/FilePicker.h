#pragma once

// The choosers for files and folders: open a recording or a project, save a copy of a
// project, pick a folder. The default ones are Qt's own file dialogs (the same on every
// desktop), window-modal over `parent`; tests put their own answers in.

#include "model/lifecycle/AppModel.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <functional>
#include <optional>

class QWidget;

struct FilePicker {
    enum class Kind { recording, project, either };

    // A file of the kind. A project is a folder ending in ".vtrl" (or an older single
    // ".vtrl" file): it is picked as one item, never entered.
    std::function<QCoro::Task<std::optional<QString>>(QWidget* parent, Kind kind, QString caption)> open;
    // A new package path ending in ".vtrl", starting in `folder` with `proposed`.
    std::function<QCoro::Task<std::optional<QString>>(QWidget* parent, QString caption, QString folder,
                                                      QString proposed)>
        savePackage;
    // A folder (new ones can be made), with `accept` on its button and `message` above.
    std::function<QCoro::Task<std::optional<QString>>(QWidget* parent, QString folder, QString accept,
                                                      QString message)>
        folder;
    // A marker file (comma-separated text), starting in `folder`.
    std::function<QCoro::Task<std::optional<QString>>(QWidget* parent, QString folder)> markers;
    // A new MPEG-4 movie, starting in `folder` (the dialog's own choice when empty) with
    // `proposed` as its name; the path ends in ".mp4".
    std::function<QCoro::Task<std::optional<QString>>(QWidget* parent, QString folder, QString proposed)> saveMovie;

    // The one the program uses; tests replace its members.
    static FilePicker& current();
    static FilePicker standard();

    // The model's questions, answered through the current picker over `parent`.
    static Panels panels(QWidget* parent);
};
