#pragma once

#include "app/shell/Root.h"

#include <QMainWindow>

class AppModel;
class Menus;

// The one main window, "Vantorel": the root view with the menu bar. Closing it ends the
// program (`closed`), whatever other windows are open.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(AppModel& model, QStringList arguments, Root::Options options = {}, QWidget* parent = nullptr);

    Root* root() const { return content; }
    Menus* menus() const { return bar; }

    // The extra windows: "activity", "stream" (empty until their views exist) and
    // "settings", each made on first request.
    static void defineWindows(AppModel& model);
    static void showAbout(QWidget* parent);

Q_SIGNALS:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Root* content;
    Menus* bar;
};
