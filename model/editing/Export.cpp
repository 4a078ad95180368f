// Exporting Shorts as MP4 files, with their subtitles as SRT files beside them.

#include "core/project/Subtitles.h"
#include "core/project/Text.h"
#include "model/lifecycle/Jobs.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <memory>
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

// The transcripts that subtitles are made from, copied once for a whole run.
std::shared_ptr<const Project> wordsOf(const Project& project, bool subtitles)
{
    if (!subtitles)
        return nullptr;
    auto words = std::make_shared<Project>();
    words->segments = project.segments;
    return words;
}

} // namespace

std::optional<Composition> AppModel::composition(const std::vector<Cut>& cuts) const
{
    if (!asset_)
        return std::nullopt;
    return Composition::of(cuts, *asset_, project_.duration);
}

// Everything a file is made from. Taken when the export starts: a project opened, or the
// Short edited, while it renders cannot creep into the file or its subtitles.
struct AppModel::ExportTake {
    Short s;                              // its cuts as they are rendered
    QString mp4;
    std::optional<Composition> made;      // none: nothing to render
    std::shared_ptr<const Project> words; // the transcripts for the SRT; none: no SRT
    bool overwrites = false;              // the target is the recording or lies in its package
};

AppModel::ExportTake AppModel::exportTake(const Short& s, const QString& mp4,
                                          std::shared_ptr<const Project> words) const
{
    ExportTake take{s, mp4, composition(s.cuts), std::move(words), false};
    // The recording is never written, and an export put over the project's own files
    // would destroy the work it was cut from.
    const QString target = resolved(mp4);
    const QString package = file_ ? resolved(*file_) : QString();
    take.overwrites = target == resolved(project_.video)
                      || (!package.isEmpty() && (target == package || target.startsWith(package + u'/')));
    // Subtitles keep time with the picture: laid out over the cuts as they are rendered.
    if (asset_) {
        for (Cut& cut : take.s.cuts) {
            const Span piece = Composition::held(cut, std::max(asset_->duration, project_.duration));
            cut.start = piece.start;
            cut.end = piece.end;
        }
    }
    return take;
}

QCoro::Task<> AppModel::write(ExportTake take, Cancel cancel)
{
    if (!take.made)
        throw Fail(QStringLiteral("It has no cuts."));
    if (take.overwrites)
        throw Fail(QStringLiteral("It would be written over the recording or its project. Choose another name."));
    const QPointer<AppModel> self(this);
    std::function<void(double)> progress = [self](double done) {
        if (self)
            self->setExportProgress(done);
    };
    co_await render(*take.made, take.mp4, std::move(progress), cancel);
    if (!take.words)
        co_return;
    const QString srt = QFileInfo(take.mp4).dir().filePath(Text::stem(QFileInfo(take.mp4).fileName())
                                                             + QStringLiteral(".srt"));
    QSaveFile file(srt);
    if (!file.open(QIODevice::WriteOnly) || file.write(Subtitles::srt(take.s, *take.words).toUtf8()) < 0
        || !file.commit())
        throw Fail(QStringLiteral("The subtitles could not be saved as %1: %2.")
                       .arg(QDir::toNativeSeparators(srt), file.errorString()));
}

QCoro::Task<std::optional<QString>> AppModel::exportJob(ExportTake take, Cancel cancel)
{
    const QString title = QStringLiteral("Export ") + take.s.title;
    const QString name = QFileInfo(take.mp4).fileName();
    auto work = [this, take = std::move(take), cancel](Trace&) -> QCoro::Task<> { co_await write(take, cancel); };
    try {
        co_await job<void>(QStringLiteral("export"), title, name, QString(), std::nullopt, std::move(work), cancel);
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

    // A recording opened meanwhile changes nothing: the file is finished from what was taken.
    const QPointer<AppModel> self(this);
    ExportTake take = exportTake(s, mp4, wordsOf(project_, subtitles));
    const std::optional<QString> failure = co_await exportJob(std::move(take), cancel);
    if (!self)
        co_return;
    // The export is over before the file manager is asked, which may take seconds: another
    // export may start meanwhile.
    setExportProgress(std::nullopt);
    setExportLabel(QString());
    if (failure) {
        setProblem(QStringLiteral("The Short could not be exported. ") + *failure);
        co_return;
    }
    // Named: GCC 12 destroys a temporary made inside a co_await expression twice.
    const QString said = QStringLiteral("Exported ") + name;
    const std::optional<QString> shown = reveal ? std::optional(mp4) : std::nullopt;
    const QString what = QStringLiteral("it");
    co_await toastShowing(said, shown, what);
}

QCoro::Task<> AppModel::toastShowing(QString said, std::optional<QString> path, QString what)
{
    if (path && revealFile) {
        const QPointer<AppModel> self(this);
        const auto show = revealFile; // kept whole while it runs
        const bool shown = co_await show(*path);
        if (!self)
            co_return;
        if (!shown)
            said += QStringLiteral(". No file manager could show ") + what + u'.';
    }
    setToast(said);
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

    // Every file is made from what the run takes here. A recording opened (or the project
    // closed) meanwhile ends the run after the Short under way: the rest would be recorded
    // as work of a project they do not belong to.
    const int generation = generation_;
    const std::shared_ptr<const Project> words = wordsOf(project_, subtitles);
    std::vector<ExportTake> takes;
    takes.reserve(shorts.size());
    const QPointer<AppModel> self(this);
    int exported = 0;
    std::size_t done = 0; // Shorts finished, written or not
    bool stopped = false;
    std::set<QString> taken;
    for (std::size_t i = 0; i < shorts.size(); ++i) {
        const Short& s = shorts[i];
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
        takes.push_back(exportTake(s, QDir(folder).filePath(name), words));
    }
    for (std::size_t i = 0; i < takes.size(); ++i) {
        const QString title = takes[i].s.title;
        setExportLabel(QStringLiteral("Exporting %1 of %2").arg(i + 1).arg(takes.size()));
        const std::optional<QString> failure = co_await exportJob(std::move(takes[i]), cancel);
        if (!self)
            co_return;
        // A cancel stops the whole run, not just the Short under way; one cut off by it was
        // not finished, while one under way when another recording was opened was.
        const bool stop = cancel.cancelled() || generation != generation_;
        if (failure)
            setProblem(title + QStringLiteral(" could not be exported. ") + *failure);
        else
            ++exported;
        if (!failure || !cancel.cancelled())
            done = i + 1;
        if (stop) {
            stopped = true;
            break;
        }
    }
    setExportProgress(std::nullopt);
    setExportLabel(QString());
    QString said = stopped ? QStringLiteral("Export stopped after %1 of %2 Shorts").arg(done).arg(takes.size())
                           : QStringLiteral("Exported %1 Short%2").arg(exported).arg(exported == 1 ? "" : "s");
    const std::optional<QString> shown = folder;
    const QString what = QStringLiteral("the folder");
    co_await toastShowing(said, shown, what);
}
