#include "app/shell/Windowed.h"

#include "app/shell/MainWindow.h"
#include "core/services/Keychain.h"
#include "model/lifecycle/AppModel.h"
#include "platform/Ending.h"
#include "platform/TaskHandle.h"
#include "views/kit/FilePicker.h"
#include "views/kit/Style.h"

#include <QApplication>
#include <QClipboard>
#include <QThreadPool>
#include <clocale>

void runWindowed(int& argc, char** argv)
{
    int status = 0;
    {
        QApplication app(argc, argv);
        // QApplication took the C library's locale from the environment; numbers must not.
        std::setlocale(LC_NUMERIC, "C");
        QApplication::setApplicationName(QStringLiteral("Vantorel"));
        QApplication::setApplicationVersion(QStringLiteral(VANTOREL_VERSION));
        QGuiApplication::setDesktopFileName(QStringLiteral("vantorel"));
        Style::apply(app);
        // The program ends when its main window closes, once the writes under way have ended:
        // Qt's own quit at the last window's close would come first and cut them off.
        QApplication::setQuitOnLastWindowClosed(false);
        TaskHandle::start([](Cancel) -> QCoro::Task<> { co_await Keychain::load(); });

        // Made on the heap and never destroyed: the process ends at once after the loop.
        auto& model = *new AppModel;
        auto& window = *new MainWindow(model, QApplication::arguments());
        model.panels = FilePicker::panels(&window);
        MainWindow::defineWindows(model);
        QObject::connect(&window, &MainWindow::closed, &app, [&app] {
            // Work still waiting its turn (stills, cache files) has nobody to read it: it is
            // dropped rather than done. Writes already under way end whole first.
            QThreadPool::globalInstance()->clear();
            Ending::afterWrites(&app, &QApplication::quit, std::chrono::seconds(3));
        });
        window.show();
        window.activateWindow();
        status = QApplication::exec();
        // Nothing of the user's is left to write: projects are saved on this thread as they
        // change, and the writes elsewhere have ended. Tearing down the windows, the players
        // and the application would only wait: for decoders to reach a stopping point, for
        // stills being decoded on the thread pool, for the sound server and the desktop's
        // services to say goodbye. Child programs end with the process.
        // Save for what the user copied: it lives in this program until the desktop's keeper of
        // the clipboard takes it, which it does as the application object goes.
        if (!QGuiApplication::clipboard()->ownsClipboard())
            Ending::now(status);
    }
    Ending::now(status);
}
