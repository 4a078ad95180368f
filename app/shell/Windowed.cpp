#include "app/shell/Windowed.h"

#include "app/shell/MainWindow.h"
#include "core/services/Keychain.h"
#include "model/lifecycle/AppModel.h"
#include "platform/TaskHandle.h"
#include "views/kit/FilePicker.h"
#include "views/kit/Style.h"
#include "views/kit/Windows.h"

#include <QApplication>
#include <QThreadPool>
#include <clocale>

int runWindowed(int& argc, char** argv)
{
    QApplication app(argc, argv);
    // QApplication took the C library's locale from the environment; numbers must not.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Vantorel"));
    QApplication::setApplicationVersion(QStringLiteral(VANTOREL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("vantorel"));
    Style::apply(app);
    TaskHandle::start([](Cancel) -> QCoro::Task<> { co_await Keychain::load(); });

    int status = 0;
    {
        AppModel model;
        MainWindow window(model, QApplication::arguments());
        model.panels = FilePicker::panels(&window);
        MainWindow::defineWindows(model);
        QObject::connect(&window, &MainWindow::closed, &app, &QApplication::quit);
        window.show();
        window.activateWindow();
        status = QApplication::exec();
        // Work still waiting its turn (stills, cache files) has nobody to read it: it is
        // dropped rather than done before the program may end.
        QThreadPool::globalInstance()->clear();
        // Windows that views made must go before the model they read.
        Windows::reset();
    }
    return status;
}
