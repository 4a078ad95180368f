#include "views/kit/FilePicker.h"

#include "views/kit/Dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>

namespace {

const QString movies = QStringLiteral("Recordings (*.mp4 *.mov *.m4v *.mkv *.webm *.avi *.ts *.flv *.mts)");
const QString packages = QStringLiteral("Vantorel projects (*.vtrl)");

bool isPackage(const QString& path)
{
    return path.endsWith(QStringLiteral(".vtrl"));
}

// Qt's dialog enters a folder on Open; this one takes a package folder as the choice,
// however the user gets there (Open on it, a typed path, a double click).
class PickerDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    bool packagesWhole = false;
    std::optional<QString> package;

    void take(const QString& folder)
    {
        package = folder;
        QDialog::accept();
    }

protected:
    void accept() override
    {
        if (packagesWhole) {
            for (const QString& path : selectedFiles()) {
                if (isPackage(path) && QFileInfo(path).isDir()) {
                    take(path);
                    return;
                }
            }
        }
        QFileDialog::accept();
    }
};

// Deletes the dialog once its answer has been read (not on close: the answer is read
// after the dialog has closed).
struct DeleteLater {
    QPointer<QDialog> dialog;
    ~DeleteLater()
    {
        if (dialog)
            dialog->deleteLater();
    }
};

PickerDialog* make(QWidget* parent, const QString& caption)
{
    auto* dialog = new PickerDialog(parent, caption);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    dialog->resize(800, 520);
    return dialog;
}

QCoro::Task<std::optional<QString>> openFile(QWidget* parent, FilePicker::Kind kind, QString caption)
{
    QPointer<PickerDialog> dialog = make(parent, caption);
    const DeleteLater cleanup{dialog.data()};
    dialog->setFileMode(QFileDialog::ExistingFile);
    switch (kind) {
    case FilePicker::Kind::recording:
        dialog->setNameFilters({movies});
        break;
    case FilePicker::Kind::project:
        dialog->setNameFilters({packages});
        break;
    case FilePicker::Kind::either:
        dialog->setNameFilters({QStringLiteral("Recordings and projects (*.mp4 *.mov *.m4v *.mkv *.webm *.avi *.ts "
                                               "*.flv *.mts *.vtrl)"),
                                movies, packages});
        break;
    }
    if (kind != FilePicker::Kind::recording) {
        dialog->packagesWhole = true;
        QObject::connect(dialog, &QFileDialog::directoryEntered, dialog, [dialog](const QString& folder) {
            if (dialog && isPackage(folder))
                dialog->take(folder);
        });
    }
    const int result = co_await finished(dialog);
    if (result != QDialog::Accepted || !dialog)
        co_return std::nullopt;
    if (dialog->package)
        co_return dialog->package;
    if (dialog->selectedFiles().isEmpty())
        co_return std::nullopt;
    co_return dialog->selectedFiles().front();
}

QCoro::Task<std::optional<QString>> saveFile(QWidget* parent, QString caption, QString folder, QString proposed)
{
    QPointer<QFileDialog> dialog = make(parent, caption);
    const DeleteLater cleanup{dialog.data()};
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilters({packages});
    // So that a name typed without ".vtrl" is checked against the package it will become.
    dialog->setDefaultSuffix(QStringLiteral("vtrl"));
    dialog->setDirectory(folder);
    dialog->selectFile(proposed);
    // A package is a folder: entering it is choosing its name again, not saving inside.
    QObject::connect(dialog, &QFileDialog::directoryEntered, dialog, [dialog](const QString& entered) {
        if (dialog && isPackage(entered)) {
            dialog->setDirectory(QFileInfo(entered).absolutePath());
            dialog->selectFile(QFileInfo(entered).fileName());
        }
    });
    const int result = co_await finished(dialog);
    if (result != QDialog::Accepted || !dialog || dialog->selectedFiles().isEmpty())
        co_return std::nullopt;
    QString path = dialog->selectedFiles().front();
    if (!isPackage(path))
        path += QStringLiteral(".vtrl");
    co_return path;
}

QCoro::Task<std::optional<QString>> chooseFolder(QWidget* parent, QString folder, QString accept, QString message)
{
    QPointer<QFileDialog> dialog = make(parent, accept);
    const DeleteLater cleanup{dialog.data()};
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        dialog->setDirectory(folder);
    dialog->setLabelText(QFileDialog::Accept, accept);
    // Qt's dialog has no message line of its own: put one above its contents.
    if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout()); grid && !message.isEmpty()) {
        auto* label = new QLabel(message, dialog);
        label->setWordWrap(true);
        grid->addWidget(label, grid->rowCount(), 0, 1, grid->columnCount());
    }
    const int result = co_await finished(dialog);
    if (result != QDialog::Accepted || !dialog || dialog->selectedFiles().isEmpty())
        co_return std::nullopt;
    co_return dialog->selectedFiles().front();
}

QCoro::Task<std::optional<QString>> chooseMarkers(QWidget* parent, QString folder)
{
    QPointer<PickerDialog> dialog = make(parent, QString());
    const DeleteLater cleanup{dialog.data()};
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilters({QStringLiteral("Comma-separated text (*.csv *.CSV)")});
    if (!folder.isEmpty())
        dialog->setDirectory(folder);
    const int result = co_await finished(dialog);
    if (result != QDialog::Accepted || !dialog || dialog->selectedFiles().isEmpty())
        co_return std::nullopt;
    co_return dialog->selectedFiles().front();
}

QCoro::Task<std::optional<QString>> saveMovieFile(QWidget* parent, QString folder, QString proposed)
{
    QPointer<QFileDialog> dialog = make(parent, QString());
    const DeleteLater cleanup{dialog.data()};
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilters({QStringLiteral("MPEG-4 movies (*.mp4)")});
    // So that a name typed without ".mp4" is checked against the file it will become.
    dialog->setDefaultSuffix(QStringLiteral("mp4"));
    if (!folder.isEmpty())
        dialog->setDirectory(folder);
    dialog->selectFile(proposed);
    const int result = co_await finished(dialog);
    if (result != QDialog::Accepted || !dialog || dialog->selectedFiles().isEmpty())
        co_return std::nullopt;
    QString path = dialog->selectedFiles().front();
    if (!path.endsWith(QStringLiteral(".mp4"), Qt::CaseInsensitive))
        path += QStringLiteral(".mp4");
    co_return path;
}

} // namespace

FilePicker FilePicker::standard()
{
    return {openFile, saveFile, chooseFolder, chooseMarkers, saveMovieFile};
}

FilePicker& FilePicker::current()
{
    static FilePicker picker = standard();
    return picker;
}

Panels FilePicker::panels(QWidget* parent)
{
    // Each callable only hands its arguments to the current picker's coroutine (copied
    // into its frame), so nothing a dialog waits with lives in a lambda.
    const QPointer<QWidget> owner(parent);
    Panels panels;
    panels.locateRecording = [owner](QString message) { return current().open(owner, Kind::recording, message); };
    panels.openItem = [owner] {
        return current().open(owner, Kind::either, QStringLiteral("Open a recording or a project"));
    };
    panels.savePackage = [owner](QString folder, QString proposed) {
        return current().savePackage(owner, QStringLiteral("Save a copy of the project"), folder, proposed);
    };
    return panels;
}
