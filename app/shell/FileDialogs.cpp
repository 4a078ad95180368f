#include "app/shell/FileDialogs.h"

#include <QFileDialog>
#include <QPointer>

namespace {

const QString movies = QStringLiteral("Recordings (*.mp4 *.mov *.m4v *.mkv *.webm *.avi *.ts *.flv)");
const QString packages = QStringLiteral("Vantorel projects (*.vtrl)");

// A project is a folder ending in ".vtrl"; entering one picks it as a whole instead of
// showing what is inside.
std::optional<QString> pickRecordingOrProject(QWidget* parent, const QString& caption, bool projects)
{
    QFileDialog dialog(parent, caption);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters(projects ? QStringList{movies + QStringLiteral(";;") + packages, movies, packages}
                                   : QStringList{movies});
    std::optional<QString> package;
    if (projects) {
        QObject::connect(&dialog, &QFileDialog::directoryEntered, &dialog, [&](const QString& folder) {
            if (folder.endsWith(QStringLiteral(".vtrl"))) {
                package = folder;
                static_cast<QDialog&>(dialog).done(QDialog::Accepted);
            }
        });
    }
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    if (package)
        return package;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.front();
}

} // namespace

Panels fileDialogs(QWidget* parent)
{
    const QPointer<QWidget> owner(parent);
    Panels panels;
    panels.locateRecording = [owner](const QString& message) {
        return pickRecordingOrProject(owner, message, false);
    };
    panels.openItem = [owner] {
        return pickRecordingOrProject(owner, QStringLiteral("Open a recording or a project"), true);
    };
    panels.savePackage = [owner](const QString& folder, const QString& proposed) -> std::optional<QString> {
        QString path = QFileDialog::getSaveFileName(owner, QStringLiteral("Save a copy of the project"),
                                                    folder + u'/' + proposed, packages);
        if (path.isEmpty())
            return std::nullopt;
        if (!path.endsWith(QStringLiteral(".vtrl")))
            path += QStringLiteral(".vtrl");
        return path;
    };
    return panels;
}
