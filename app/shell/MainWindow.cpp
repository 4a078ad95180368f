#include "app/shell/MainWindow.h"

#include "app/shell/Menus.h"
#include "app/shell/Settings.h"
#include "core/services/Updates.h"
#include "model/lifecycle/AppModel.h"
#include "views/kit/Style.h"
#include "views/kit/Windows.h"
#include "views/windows/ActivityView.h"
#include "views/windows/AskAI.h"
#include "views/windows/BrowserView.h"
#include "views/windows/ExportSheet.h"
#include "views/start/WorkspaceView.h"

#include <QCloseEvent>
#include <QLayout>
#include <QMessageBox>
#include <QShortcut>

MainWindow::MainWindow(AppModel& model, QStringList arguments, Root::Options options, QWidget* parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Vantorel"));
    setUnifiedTitleAndToolBarOnMac(false);
    content = new Root(model, std::move(arguments), options, this);
    setCentralWidget(content);
    // The window takes its limits from its face: fixed on the start screen, resizable
    // from the workspace's least size upwards.
    layout()->setSizeConstraint(QLayout::SetMinAndMaxSize);
    bar = new Menus(model, *this,
                    {[] { Windows::open(QStringLiteral("settings")); }, [this] { showAbout(this); },
                     [this] { close(); }});
    adjustSize();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        Q_EMIT closed();
}

void MainWindow::showAbout(QWidget* parent)
{
    auto* box = new QMessageBox(parent);
    box->setWindowTitle(QStringLiteral("About Vantorel"));
    box->setIconPixmap(Style::symbol(QStringLiteral("vantorel"), Qt::black, 64, box->devicePixelRatioF()));
    box->setText(QStringLiteral("Vantorel"));
    box->setInformativeText(QStringLiteral("Version ") + Updates::current()
                            + QStringLiteral("\nTurns a long stream recording into Shorts."));
    box->setStandardButtons(QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

void MainWindow::defineWindows(AppModel& model)
{
    // A view of its own as a window that is kept when closed, so that it opens again as it
    // was. Ctrl+W closes it, as it closes Settings, whatever control has the focus.
    const auto window = [](QWidget* view, QSize size) {
        view->setWindowFlag(Qt::Window);
        view->setAttribute(Qt::WA_DeleteOnClose, false);
        view->resize(size);
        auto* close = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), view);
        QObject::connect(close, &QShortcut::activated, view, &QWidget::close);
        return view;
    };
    Windows::define(QStringLiteral("activity"), [&model, window] { return window(new ActivityView(model), {980, 600}); });
    Windows::define(QStringLiteral("stream"), [&model, window] { return window(new BrowserView(model), {1000, 720}); });
    Windows::define(QStringLiteral("settings"), [] { return new Settings; });
    WorkspaceView::askSheet() = [](AppModel& model, QWidget* parent) -> QDialog* { return new AskAI(model, parent); };
    WorkspaceView::exportSheet() = [](AppModel& model, QWidget* parent) -> QDialog* { return new ExportSheet(model, parent); };
}
