#include "app/shell/FileDialogs.h"

#include <QFileDialog>
#include <QPointer>
#include <QTimer>
#include <coroutine>
#include <utility>

namespace {

const QString movies = QStringLiteral("Recordings (*.mp4 *.mov *.m4v *.mkv *.webm *.avi *.ts *.flv)");
const QString packages = QStringLiteral("Vantorel projects (*.vtrl)");

// Opens a dialog window-modally (open(), never exec(): no nested event loop) and resumes
// the awaiting coroutine once the user has answered: the dialog's result, or nothing when
// the dialog went away unanswered (its window was closed). Connected before the dialog
// opens, so no answer can slip by; the coroutine always goes on from the event loop,
// never from inside the dialog's own code.
class Answer {
public:
    // Copied only before it is awaited (the connections are made then).
    explicit Answer(QDialog* dialog) : dialog_(dialog) {}
    ~Answer() { disconnect(); }

    bool await_ready() const noexcept { return !dialog_; }
    void await_suspend(std::coroutine_handle<> waiting)
    {
        waiting_ = waiting;
        answered_ = QObject::connect(
            dialog_, &QDialog::finished, dialog_,
            [this](int result) {
                result_ = result;
                resume();
            },
            Qt::QueuedConnection);
        gone_ = QObject::connect(dialog_, &QObject::destroyed, [this] {
            disconnect();
            QTimer::singleShot(0, [this] { resume(); });
        });
        dialog_->open();
    }
    std::optional<int> await_resume() const noexcept { return result_; }

private:
    void disconnect()
    {
        QObject::disconnect(answered_);
        QObject::disconnect(gone_);
    }
    void resume()
    {
        disconnect();
        if (auto waiting = std::exchange(waiting_, {}))
            waiting.resume();
    }

    QPointer<QDialog> dialog_;
    std::coroutine_handle<> waiting_;
    QMetaObject::Connection answered_, gone_;
    std::optional<int> result_;
};

// A project is a folder ending in ".vtrl"; entering one picks it as a whole instead of
// showing what is inside.
QCoro::Task<std::optional<QString>> pickRecordingOrProject(QPointer<QWidget> parent, QString caption, bool projects)
{
    const QPointer<QFileDialog> dialog = new QFileDialog(parent, caption);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setNameFilters(projects ? QStringList{movies + QStringLiteral(";;") + packages, movies, packages}
                                    : QStringList{movies});
    auto package = std::make_shared<std::optional<QString>>();
    if (projects) {
        QObject::connect(dialog, &QFileDialog::directoryEntered, dialog, [dialog, package](const QString& folder) {
            if (folder.endsWith(QStringLiteral(".vtrl")) && dialog) {
                *package = folder;
                static_cast<QDialog*>(dialog.data())->done(QDialog::Accepted);
            }
        });
    }
    const std::optional<int> result = co_await Answer(dialog);
    if (!result || !dialog)
        co_return std::nullopt;
    dialog->deleteLater();
    if (*result != QDialog::Accepted)
        co_return std::nullopt;
    if (*package)
        co_return *package;
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty())
        co_return std::nullopt;
    co_return chosen.front();
}

QCoro::Task<std::optional<QString>> pickPackageName(QPointer<QWidget> parent, QString folder, QString proposed)
{
    const QPointer<QFileDialog> dialog = new QFileDialog(parent, QStringLiteral("Save a copy of the project"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setNameFilter(packages);
    // So that a name typed without ".vtrl" is checked against the package it will become.
    dialog->setDefaultSuffix(QStringLiteral("vtrl"));
    dialog->setDirectory(folder);
    dialog->selectFile(proposed);
    const std::optional<int> result = co_await Answer(dialog);
    if (!result || !dialog)
        co_return std::nullopt;
    dialog->deleteLater();
    const QStringList chosen = dialog->selectedFiles();
    if (*result != QDialog::Accepted || chosen.isEmpty() || chosen.front().isEmpty())
        co_return std::nullopt;
    QString path = chosen.front();
    if (!path.endsWith(QStringLiteral(".vtrl")))
        path += QStringLiteral(".vtrl");
    co_return path;
}

} // namespace

Panels fileDialogs(QWidget* parent)
{
    // Each callable only hands its arguments to a coroutine (copied into its frame), so
    // nothing a dialog waits with lives in a lambda.
    const QPointer<QWidget> owner(parent);
    Panels panels;
    panels.locateRecording = [owner](QString message) { return pickRecordingOrProject(owner, message, false); };
    panels.openItem = [owner] {
        return pickRecordingOrProject(owner, QStringLiteral("Open a recording or a project"), true);
    };
    panels.savePackage = [owner](QString folder, QString proposed) {
        return pickPackageName(owner, folder, proposed);
    };
    return panels;
}
