#include "app/shell/Root.h"

#include "core/services/Updates.h"
#include "model/lifecycle/AppModel.h"
#include "platform/TaskHandle.h"
#include "views/kit/Style.h"
#include "views/kit/Toast.h"
#include "views/editor/Inspector.h"
#include "views/editor/Timeline.h"
#include "views/editor/Viewer.h"
#include "views/start/StartView.h"
#include "views/start/WorkspaceView.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QStackedLayout>

namespace {
// The toast's capsule stands this far above the window's bottom edge.
constexpr int toastLift = 250;

QWidget* workspace(AppModel& model, QWidget* parent)
{
    auto* space = new WorkspaceView(model, parent);
    space->setPane(WorkspaceView::Pane::viewer, new ViewerView(model));
    space->setPane(WorkspaceView::Pane::inspector, new InspectorView(model));
    space->setPane(WorkspaceView::Pane::timeline, new TimelineView(model));
    return space;
}
} // namespace

Root::WorkspaceMaker& Root::workspaceMaker()
{
    static WorkspaceMaker maker = workspace;
    return maker;
}

Root::Root(AppModel& m, QStringList args, Options opts, QWidget* parent)
    : QWidget(parent), model(m), arguments(std::move(args)), options(opts), notice(new Toast(this))
{
    auto* layout = new QStackedLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    toastTimer.setSingleShot(true);
    connect(&toastTimer, &QTimer::timeout, this, [this] { model.setToast(std::nullopt); });
    connect(&model, &AppModel::videoChanged, this, &Root::followVideo);
    connect(&model, &AppModel::toastChanged, this, &Root::followToast);
    connect(&model, &AppModel::problemChanged, this, &Root::followProblem);
    followVideo();
    followToast();
    followProblem();
}

std::optional<QString> Root::openArgument(const QStringList& arguments, const QString& folder)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("--open"));
    if (at < 0 || at + 1 >= arguments.size())
        return std::nullopt;
    return QDir(folder).absoluteFilePath(arguments[at + 1]);
}

bool Root::showsStart() const
{
    return qobject_cast<StartView*>(current) != nullptr;
}

void Root::followVideo()
{
    const bool start = !model.video();
    if (current && showsStart() == start)
        return;
    auto* layout = static_cast<QStackedLayout*>(this->layout());
    if (current) {
        layout->removeWidget(current);
        current->hide();
        // Later: the face may be the one whose action led here.
        current->deleteLater();
    }
    if (start) {
        current = new StartView(model, this);
        setMinimumSize(StartView::size);
        setMaximumSize(StartView::size);
    } else {
        current = workspaceMaker()(model, this);
        setMinimumSize(workspaceMinimum);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    layout->addWidget(current);
    layout->setCurrentWidget(current);
    notice->raise();
    if (QWidget* window = this->window(); window != this) {
        window->adjustSize();
        if (!start)
            window->resize(window->size().expandedTo(window->minimumSize()));
    }
    Q_EMIT faceChanged();
}

void Root::followToast()
{
    const std::optional<QString>& text = model.toast();
    if (text == toastText)
        return;
    toastText = text;
    // Every new text gets its full time from the moment it shows; a cleared toast
    // leaves nothing to clear later.
    if (text)
        toastTimer.start(options.toastLife);
    else
        toastTimer.stop();
    notice->place(toastLift);
    notice->present(text);
}

void Root::followProblem()
{
    const std::optional<QString>& problem = model.problem();
    if (!problem) {
        if (box)
            box->close();
        return;
    }
    // An alert already dismissed (awaiting deletion) is no place for a new problem.
    if (box && box->isVisible()) {
        box->setInformativeText(*problem);
        return;
    }
    box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Something went wrong"),
                          QStringLiteral("Something went wrong"), QMessageBox::Ok, this);
    box->setInformativeText(*problem);
    // Room for a sentence or two per line rather than a narrow column of words.
    box->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label { font-weight: bold; }"
                                      "QLabel#qt_msgbox_informativelabel { min-width: 320px; }"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    // However the alert goes, the problem has been seen.
    connect(box, &QDialog::finished, this, [this] { model.setProblem(std::nullopt); });
    box->open();
}

void Root::resizeEvent(QResizeEvent*)
{
    notice->place(toastLift);
}

void Root::showEvent(QShowEvent*)
{
    if (!launched) {
        launched = true;
        launch();
    }
}

void Root::launch()
{
    if (options.checkUpdates) {
        Updates::shared().start([model = QPointer<AppModel>(&model)](const QString& text) {
            if (model)
                model->setToast(text);
        });
    }
    const std::optional<QString> path = openArgument(arguments, QDir::currentPath());
    if (!path)
        return;
    TaskHandle::start([model = QPointer<AppModel>(&model), path = *path](Cancel) -> QCoro::Task<> {
        if (!model)
            co_return;
        const bool opened = co_await model->open(path);
        // A recording without a project gets the set-up sheet, as when it is opened on
        // the start screen: on this desktop `--open` is how a file manager hands one over.
        if (model && !opened) {
            if (model->video())
                model->close();
            model->setFresh(path);
        }
    });
}
