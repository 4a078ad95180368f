// Exporting Shorts as MP4 files, with their subtitles as SRT files beside them.

#include "core/project/Subtitles.h"
#include "core/project/Text.h"
#include "model/lifecycle/Jobs.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <set>

namespace {

// The file a path names once links and dots are resolved, also for a file not made yet.
QString resolved(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? Text::absolutePath(path) : folder + u'/' + info.fileName();
}

} // namespace

std::optional<Composition> AppModel::composition(const std::vector<Cut>& cuts) const
{
    if (!asset_)
        return std::nullopt;
    return Composition::of(cuts, *asset_);
}

QCoro::Task<> AppModel::write(Short s, QString mp4, bool subtitles, Cancel cancel)
{
    const auto made = composition(s.cuts);
    if (!made)
        throw Fail(QStringLiteral("It has no cuts."));
    // The recording is never written, and an export put over the project's own files
    // would destroy the work it was cut from.
    const QString target = resolved(mp4);
    const QString package = file_ ? resolved(*file_) : QString();
    if (target == resolved(project_.video) || (!package.isEmpty() && (target == package || target.startsWith(package + u'/'))))
        throw Fail(QStringLiteral("It would be written over the recording or its project. Choose another name."));
    // Subtitles keep time with the picture: laid out over the cuts as they are rendered.
    for (Cut& cut : s.cuts) {
        const Span piece = Composition::held(cut, asset_->duration);
        cut.start = piece.start;
        cut.end = piece.end;
    }
    const QPointer<AppModel> self(this);
    std::function<void(double)> progress = [self](double done) {
        if (self)
            self->setExportProgress(done);
    };
    co_await render(*made, mp4, std::move(progress), cancel);
    if (!subtitles || !self)
        co_return;
    const QString srt = QFileInfo(mp4).dir().filePath(Text::stem(QFileInfo(mp4).fileName()) + QStringLiteral(".srt"));
    QSaveFile file(srt);
    if (!file.open(QIODevice::WriteOnly) || file.write(Subtitles::srt(s, project_).toUtf8()) < 0 || !file.commit())
        throw Fail(QStringLiteral("The subtitles could not be saved as %1: %2.")
                       .arg(QDir::toNativeSeparators(srt), file.errorString()));
}

QCoro::Task<std::optional<QString>> AppModel::exportJob(Short s, QString mp4, bool subtitles, Cancel cancel)
{
    auto work = [this, s, mp4, subtitles, cancel](Trace&) -> QCoro::Task<> {
        co_await write(s, mp4, subtitles, cancel);
    };
    try {
        co_await job<void>(QStringLiteral("export"), QStringLiteral("Export ") + s.title, QFileInfo(mp4).fileName(),
                           QString(), std::nullopt, std::move(work), cancel);
    } catch (const Fail& fail) {
        co_return fail.errorDescription;
    }
    co_return std::nullopt;
}

QCoro::Task<> AppModel::exportShort(QString mp4, bool subtitles, bool reveal, Cancel cancel)
{
    const auto found = std::find_if(project_.shorts.begin(), project_.shorts.end(),
                                    [&](const Short& s) { return activeShort_ && s.id == *activeShort_; });
    if (found == project_.shorts.end() || exportProgress_)
        co_return;
    const Short s = *found;
    const QString name = QFileInfo(mp4).fileName();
    player_->pause();
    setExportProgress(0.0);
    setExportLabel(QStringLiteral("Exporting ") + s.title);

    const QPointer<AppModel> self(this);
    const std::optional<QString> failure = co_await exportJob(s, mp4, subtitles, cancel);
    if (!self)
        co_return;
    if (failure) {
        setProblem(QStringLiteral("The Short could not be exported. ") + *failure);
    } else {
        if (reveal && revealFile)
            revealFile(mp4);
        setToast(QStringLiteral("Exported ") + name);
    }
    setExportProgress(std::nullopt);
    setExportLabel(QString());
}

QCoro::Task<> AppModel::exportAll(QString folder, bool subtitles, Cancel cancel)
{
    std::vector<Short> shorts;
    for (const Short& s : project_.shorts)
        if (!s.cuts.empty())
            shorts.push_back(s);
    if (shorts.empty() || exportProgress_)
        co_return;
    const QString prefix = file_ ? Text::firstGraphemes(QFileInfo(*file_).fileName(), 10) : QString();
    setExportProgress(0.0);

    const QPointer<AppModel> self(this);
    int exported = 0;
    std::set<QString> taken;
    for (std::size_t i = 0; i < shorts.size(); ++i) {
        const Short s = shorts[i];
        setExportLabel(QStringLiteral("Exporting %1 of %2").arg(i + 1).arg(shorts.size()));
        QString stem = prefix + u' ' + s.title;
        stem.replace(u'/', u'-').remove(u':');
        // A line break (or a NUL, which would end the name early) has no place in a file name.
        for (QChar& c : stem)
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                c = u' ';
        // Shorts may share a title (each starts as "Untitled Short"): number the later ones
        // rather than write one over another.
        QString name = stem + QStringLiteral(".mp4");
        for (int n = 2; taken.count(name); ++n)
            name = stem + QStringLiteral(" %1.mp4").arg(n);
        taken.insert(name);
        const QString mp4 = QDir(folder).filePath(name);

        const std::optional<QString> failure = co_await exportJob(s, mp4, subtitles, cancel);
        if (!self)
            co_return;
        if (failure)
            setProblem(s.title + QStringLiteral(" could not be exported. ") + *failure);
        else
            ++exported;
        // A cancel stops the whole run, not just the Short under way.
        if (cancel.cancelled())
            break;
    }
    if (revealFile)
        revealFile(folder);
    setToast(QStringLiteral("Exported %1 Short%2").arg(exported).arg(exported == 1 ? "" : "s"));
    setExportProgress(std::nullopt);
    setExportLabel(QString());
}
