// The windowed program, quit as a user quits it, in a process of its own: the real entry
// (`Main::main`) with a few steps added from inside. Once the file named by QUIT_WHEN exists
// (the test's stand-in whisper-cli makes it as it starts), it changes one preference, chooses
// Quit from the menu at once, and changes another as the application's loop ends, where only
// the end's own writing can store it. Ends with status 3 when the file never comes.
//
// With QUIT_EXPORT set, it first exports the open project's active Short to that path as a
// user does (File > Export Short…, then Export… in the sheet, that path chosen), and with
// QUIT_SAVE set it chooses Save just before Quit.

#include "app/cli/Main.h"
#include "app/shell/MainWindow.h"
#include "app/shell/Menus.h"
#include "platform/Prefs.h"
#include "views/kit/FilePicker.h"
#include "views/windows/ExportSheet.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>

namespace {

MainWindow* mainWindow()
{
    MainWindow* window = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* main = qobject_cast<MainWindow*>(top))
            window = main;
    return window;
}

// Once a Short can be exported, asks for it from the menu and starts it from the sheet.
void exportWhenOpen(const QString& path)
{
    FilePicker::current().saveMovie = [path](QWidget*, QString, QString) -> QCoro::Task<std::optional<QString>> {
        co_return path;
    };
    auto* poll = new QTimer(QCoreApplication::instance());
    QObject::connect(poll, &QTimer::timeout, [poll] {
        MainWindow* window = mainWindow();
        QAction* exporting = window ? window->menus()->action(Command::exportShort) : nullptr;
        if (!exporting)
            return;
        if (auto* sheet = window->findChild<ExportSheet*>()) {
            poll->stop();
            sheet->exportButton()->click();
        } else if (exporting->isEnabled()) {
            exporting->trigger();
        }
    });
    poll->start(20);
}

void quitWhenAsked()
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return; // a command-line job
    if (const QString path = qEnvironmentVariable("QUIT_EXPORT"); !path.isEmpty())
        exportWhenOpen(path);
    const QString when = qEnvironmentVariable("QUIT_WHEN");
    auto* poll = new QTimer(QCoreApplication::instance());
    auto* waited = new QElapsedTimer;
    waited->start();
    QObject::connect(poll, &QTimer::timeout, [poll, waited, when] {
        if (!QFile::exists(when)) {
            if (waited->elapsed() > 120000)
                std::_Exit(3);
            return;
        }
        poll->stop();
        MainWindow* window = mainWindow();
        if (!window)
            std::_Exit(4);
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { Prefs::shared().set("clipNames", true); });
        Prefs::shared().set("exportReveal", false);
        if (qEnvironmentVariableIsSet("QUIT_SAVE"))
            window->menus()->action(Command::save)->trigger();
        window->menus()->action(Command::quit)->trigger();
    });
    poll->start(20);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(quitWhenAsked)

int main(int argc, char** argv)
{
    return Main::main(argc, argv);
}
