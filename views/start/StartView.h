#pragma once

#include "views/kit/FilePicker.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>
#include <functional>

class AppModel;
class QLabel;
class QVBoxLayout;
class SetupList;

// The main window's face while nothing is open: two large buttons that open a stream
// recording or a project, drops of a file anywhere on it, the recent projects on the
// right and what is still missing on this computer. A recording opened for the first
// time gets the set-up sheet for a new stream.
class StartView : public QWidget {
    Q_OBJECT
public:
    explicit StartView(AppModel& model, QWidget* parent = nullptr);
    ~StartView() override;

    static constexpr QSize size{820, 470};

    // Makes the set-up sheet for a new stream over `parent` (installed by the view that
    // builds it; until then a sheet that says so).
    using SheetMaker = std::function<QDialog*(AppModel& model, const QString& video, QWidget* parent)>;
    static SheetMaker& sheetMaker();

    // Opens `path`, or shows the set-up sheet when it is a recording without a project.
    void pick(const QString& path);
    void choose(FilePicker::Kind kind);
    // The recents that exist on disk now, in order.
    QStringList listedRecents() const;
    QDialog* sheet() const { return shownSheet; }
    bool hovering() const { return dragging; }

protected:
    void dragEnterEvent(QDragEnterEvent*) override;
    void dragLeaveEvent(QDragLeaveEvent*) override;
    void dropEvent(QDropEvent*) override;
    void showEvent(QShowEvent*) override;

private:
    void fillRecents();
    void followFresh();
    void setDragging(bool on);
    void fit();
    AppModel& model;
    QWidget* main;
    QVBoxLayout* recentList;
    QLabel* placeholder;
    QLabel* icon;
    QVBoxLayout* column;
    int iconSize = 0;
    SetupList* setup;
    QStringList shownRecents;
    QPointer<QDialog> shownSheet;
    bool dragging = false;
};
