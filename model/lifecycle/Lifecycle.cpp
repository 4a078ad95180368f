// Opening a recording or a project, creating a project from its markers, starting and
// ending the work on a recording, and the list of recent projects.

#include "core/project/Backups.h"
#include "core/project/Markers.h"
#include "core/project/Text.h"
#include "core/services/Pricing.h"
#include "model/lifecycle/AppModel.h"
#include "platform/Pieces.h"
#include "platform/Prefs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <QStringDecoder>
#include <cmath>

namespace {

const QString packageSuffix = QStringLiteral(".vtrl");

// The stored list, keeping only package paths.
QStringList storedRecents()
{
    QStringList kept = Prefs::shared().recents();
    kept.removeIf([](const QString& entry) { return !entry.endsWith(packageSuffix); });
    return kept;
}

// The stored volume when it is a number a float holds exactly (as setVolume stores it).
float storedVolume()
{
    const auto wide = Prefs::shared().optionalNumber(QStringLiteral("volume"));
    return wide && double(float(*wide)) == *wide ? float(*wide) : 1.0f;
}

QString fileName(const QString& path)
{
    return QFileInfo(path).fileName();
}

// The stills and waveforms in `cache` are the recording's as it was read when they were made.
// A recording joined from pieces is read piece by piece; earlier builds read it as one file,
// whose times after the first join lie elsewhere, and cached nothing to say so: its cache goes
// unless it says it was read the same way.
void dropStaleCache(const QString& cache, const QString& video)
{
    // Where each piece starts, and how long all but the last lasts (a recording still being
    // written grows only its last).
    QByteArray reading = "whole\n";
    if (const std::vector<Pieces::Piece> pieces = Pieces::of(video); !pieces.empty() && Pieces::joinedUrl(video)) {
        reading = "pieces\n";
        for (std::size_t k = 0; k < pieces.size(); ++k)
            reading += QByteArray::number(pieces[k].from)
                       + (k + 1 < pieces.size() ? ' ' + QByteArray::number(pieces[k].length, 'f', 6) : QByteArray()) + '\n';
    }
    const QString mark = cache + QStringLiteral("/reading");
    QFile was(mark);
    const QByteArray before = was.open(QIODevice::ReadOnly) ? was.readAll() : QByteArray();
    if (before == reading)
        return;
    if (!before.isEmpty() || reading != "whole\n") {
        // (A folder linked there is not the cache's own: only the link goes.)
        for (const QString& made : {QStringLiteral("/frames"), QStringLiteral("/waves")})
            if (!QFile::remove(cache + made))
                QDir(cache + made).removeRecursively();
    }
    QSaveFile now(mark);
    if (QDir().mkpath(cache) && now.open(QIODevice::WriteOnly) && now.write(reading) == reading.size())
        now.commit();
}

// The recording's project: one that names it anywhere in its folder, else one at a name its
// project is given (after the recording or after `markers`) that is its own or cannot be
// read. A damaged project is opened, and so refused with its reason, never passed over for a
// new one that pays for the pipeline again.
std::optional<QString> projectOf(const QString& video, const std::optional<QString>& markers)
{
    if (std::optional<QString> found = Project::existingFile(video))
        return found;
    for (const std::optional<QString>& named : {std::optional<QString>(), markers}) {
        if (std::optional<QString> package = Project::namedFile(video, named))
            return package;
    }
    return std::nullopt;
}

// The same package however it was reached (a link, or a link to its folder).
QString canonical(const QString& path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? path : resolved;
}

} // namespace

AppModel::AppModel(std::unique_ptr<Player> player, std::unique_ptr<Player> browserPlayer, QObject* parent)
    : QObject(parent)
    , project_(emptyProject())
    , recents_(storedRecents())
    , volume_(storedVolume())
    , clock_(std::make_unique<Clock>())
    , player_(player ? std::move(player) : Player::makeDefault())
    , frames_(std::make_unique<Frames>())
    , browser_(std::make_unique<StreamBrowser>(browserPlayer ? std::move(browserPlayer) : Player::makeDefault()))
    , waves_(std::make_unique<Waves>())
{
    seeks_ = std::make_unique<SeekQueue>(*player_);
    connect(player_.get(), &Player::ticked, this, &AppModel::tick);
    // A recording the player cannot play: the sentence is all there is to see of it.
    connect(player_.get(), &Player::failed, this, [this](const QString& sentence) { setToast(sentence); });
    connect(&browser_->player(), &Player::failed, this, [this](const QString& sentence) { setToast(sentence); });
}

AppModel::~AppModel()
{
    if (pipeline_)
        pipeline_->cancel();
}

Project AppModel::emptyProject()
{
    return Project{};
}

// ---- opening ----

std::optional<QString> AppModel::packageOf(QString path)
{
    path = Text::absolutePath(path);
    if (Text::extension(fileName(path)) == u"vtrl")
        return path;
    return projectOf(path, Markers::find(path));
}

QCoro::Task<bool> AppModel::open(QString path)
{
    const auto package = packageOf(path);
    if (!package)
        co_return false;
    co_await openProject(*package);
    co_return true;
}

QCoro::Task<> AppModel::openProject(QString package)
{
    package = Text::absolutePath(package);
    // Held before it is read: what another process saves after this reading would be lost
    // by this model's first save. The project open now stays open when it is refused.
    std::optional<PackageLock> hold = PackageLock::take(package);
    if (!hold) {
        setProblem(PackageLock::refusal(package));
        co_return;
    }
    co_await openHeld(package, std::move(*hold));
}

QCoro::Task<> AppModel::openHeld(QString package, PackageLock hold)
{
    const std::optional<DiskVersion> read = Project::version(package);
    Project loaded;
    try {
        loaded = Project::load(package);
    } catch (const Fail& fail) {
        setProblem(fail.errorDescription);
        co_return;
    }
    auto recording = loaded.recording(package);
    if (!recording) {
        // Another opening (or a close) while the user looks for the recording makes this
        // one void: the answer belongs to a world that is gone.
        const int generation = generation_;
        const QPointer<AppModel> self(this);
        recording = co_await locateRecording(loaded.video);
        if (!self || generation != generation_)
            co_return;
    }
    if (!recording) {
        setProblem(QStringLiteral("The recording ") + fileName(loaded.video)
                   + QStringLiteral(" was not found. Put it next to the project file and open the project again."));
        co_return;
    }
    // Named, not a temporary: GCC 12 destroys a lambda temporary made inside a co_await
    // expression twice (its captured project was freed twice).
    Builder builder = [loaded](double) { return loaded; };
    co_await start(package, *recording, false, std::move(builder), std::move(hold), read);
}

QCoro::Task<std::optional<QString>> AppModel::locateRecording(QString stored)
{
    // Only a windowed run asks; a command-line job has nobody to ask.
    const QCoreApplication* app = QCoreApplication::instance();
    if (!app || !app->inherits("QApplication") || !panels.locateRecording)
        co_return std::nullopt;
    // A copy: the panel's callable must outlive the dialog, whatever happens to `panels`.
    const auto ask = panels.locateRecording;
    co_return co_await ask(QStringLiteral("Where is ") + fileName(stored)
                           + QStringLiteral("? It is not where this project last saw it."));
}

QString AppModel::packageFor(const QString& video, const std::optional<QString>& markers)
{
    // Another recording's project may already sit under the name (two recordings sharing
    // a marker file, or a renamed recording): never write over it, take the next free name.
    QString package = Project::newFile(video, markers);
    const QString base = package.chopped(packageSuffix.size());
    for (int n = 2; !Project::mayWrite(package, video); ++n)
        package = base + u' ' + QString::number(n) + packageSuffix;
    return package;
}

std::vector<double> AppModel::readMarks(const QString& markers, QString* text)
{
    QFile file(markers);
    if (!file.open(QIODevice::ReadOnly))
        throw Fail(QStringLiteral("The marker file %1 could not be read: %2.").arg(fileName(markers), file.errorString()));
    const QByteArray bytes = file.readAll();
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString read = decode(bytes);
    if (decode.hasError())
        throw Fail(QStringLiteral("The marker file %1 is not UTF-8 text.").arg(fileName(markers)));
    std::vector<double> marks = Markers::parse(read);
    if (text)
        *text = std::move(read);
    return marks;
}

QCoro::Task<> AppModel::create(QString video, QString markers, QString note, double before, double after,
                               bool transcribe, bool summarize, bool ideas)
{
    video = Text::absolutePath(video);
    markers = Text::absolutePath(markers);
    // The caller found no project for the recording, but a job or another window may have
    // made one since and let go of it, or it may have been damaged meanwhile. That project
    // holds the user's work, paid for: it is opened (or refused with its reason), and never
    // written over or passed over by a new one.
    std::optional<QString> made = projectOf(video, markers);
    QString package;
    std::optional<PackageLock> hold;
    for (int look = 0; look < 10 && !made && !hold; ++look) {
        package = packageFor(video, markers);
        hold = PackageLock::take(package);
        if (!hold) {
            setProblem(PackageLock::refusal(package));
            co_return;
        }
        // Nobody else makes the package while it is held; one made between the look and the
        // hold is looked at again.
        made = projectOf(video, markers);
        if (made || QFileInfo::exists(package))
            hold.reset();
    }
    if (made) {
        hold = PackageLock::take(*made);
        if (!hold) {
            setProblem(PackageLock::refusal(*made));
            co_return;
        }
        const int generation = generation_;
        const QPointer<AppModel> self(this);
        co_await openHeld(*made, std::move(*hold));
        if (self && generation != generation_ && file_ == made)
            setToast(QStringLiteral("Opened ") + fileName(*made)
                     + QStringLiteral(", which another window or job made meanwhile"));
        co_return;
    }
    if (!hold) {
        setProblem(madeMeanwhile(package));
        co_return;
    }
    Builder builder = [=](double duration) {
        QString text;
        const std::vector<double> marks = readMarks(markers, &text);
        if (marks.empty())
            throw Fail(QStringLiteral("No markers were found in ") + fileName(markers) + u'.');
        Project p;
        p.format = 1;
        p.markersName = fileName(markers);
        p.markersCSV = text;
        p.note = note;
        p.before = before;
        p.after = after;
        p.duration = duration;
        p.markerCount = qint64(marks.size());
        p.segments = Markers::segments(marks, before, after, duration);
        p.autoTranscribe = transcribe;
        p.autoSummarize = summarize;
        p.autoIdeas = ideas;
        return p;
    };
    co_await start(package, video, true, std::move(builder), std::move(*hold), std::nullopt);
}

QString AppModel::madeMeanwhile(const QString& package)
{
    return fileName(package)
        + QStringLiteral(" was made by another program while this project was being set up, and was left as it "
                         "is. Open it to see what it holds.");
}

QCoro::Task<> AppModel::start(QString file, QString video, bool isNew, Builder builder, PackageLock hold,
                              std::optional<DiskVersion> read)
{
    // One file, one name: the project, the recents and later lookups all keep these.
    file = Text::absolutePath(file);
    video = Text::absolutePath(video);
    // A new project that no save could keep is never begun: its pipeline would pay for it all
    // the same. (One that exists opens where it cannot be written, to be looked at or saved
    // elsewhere; each failed save says so.)
    if (const std::optional<QString> refusal = isNew ? Project::unwritable(file) : std::nullopt) {
        setProblem(refusal);
        co_return;
    }
    close();
    // A later start (or a close) while this one waits on the media makes this one stop.
    const int generation = generation_;
    const QPointer<AppModel> self(this);

    MediaInfo info;
    std::optional<QString> failure;
    try {
        info = co_await Media::probe(video);
    } catch (const Fail& fail) {
        failure = fail.errorDescription;
    }
    if (!self || generation != generation_)
        co_return;
    if (failure) {
        setProblem(failure);
        co_return;
    }
    if (!info.videoStream) {
        setProblem(QStringLiteral("That file has no video in it."));
        co_return;
    }
    // The package is held, so no process of this program can have made it meanwhile; one
    // that could not lock it (a file system without locks) or a program of another kind
    // may have. A new project has no version read to check its first save against.
    if (isNew && QFileInfo::exists(file)) {
        setProblem(madeMeanwhile(file));
        co_return;
    }
    Project built;
    try {
        built = builder(info.duration);
    } catch (const Fail& fail) {
        setProblem(fail.errorDescription);
        co_return;
    }
    built.video = video;
    setProject(std::move(built));
    asset_ = info;
    transform_ = info.transform;

    const auto [tw, th] = transform_.apply(info.naturalSize.width(), info.naturalSize.height());
    const double aspect = th == 0 ? 16.0 / 9.0 : std::fabs(tw / th);
    dropStaleCache(file + QStringLiteral("/cache"), video);
    frames_->use(info, aspect, file + QStringLiteral("/cache/frames"));

    if (!isNew)
        Backups::keep(file);
    hold_ = std::move(hold);
    written_ = read;
    setFile(file);
    setVideo(video);
    remember(file);

    sourceItem_ = video;
    holdSource(video);
    browser_->load(video, info.duration);
    waves_->reset(video, file + QStringLiteral("/cache/waves"));
    loadActivity();
    TaskHandle::start([](Cancel cancel) -> QCoro::Task<> { co_await Pricing::refresh(cancel); });
    player_->setVolume(volume_);
    setActiveShort(project_.shorts.empty() ? std::nullopt : std::optional<QUuid>(project_.shorts.front().id));
    if (!project_.segments.empty())
        show(project_.segments.front().id);
    save();
    loadThumbs();
    if (video_)
        runPipeline(false, false, false, isNew, {});
}

void AppModel::remember(const QString& package)
{
    QStringList list{package};
    for (const QString& entry : recents_) {
        if (canonical(entry) != canonical(package) && list.size() < 8)
            list.append(entry);
    }
    setRecents(list);
    Prefs::shared().set(QStringLiteral("recents"), list);
}

void AppModel::close()
{
    // A trim drag ends with its recording, before the views let go of it: what it made is
    // kept, and no preview of it starts playing over the closing.
    if (scrubbing) {
        scrubbing = false;
        save();
    }
    ++generation_;
    if (pipeline_)
        pipeline_->cancel();
    player_->pause();
    holdSource(std::nullopt);
    sourceItem_.reset();
    setVideo(std::nullopt);
    setFile(std::nullopt);
    hold_.reset();
    written_.reset();
    setProject(emptyProject());
    setSelection(std::nullopt);
    assignMode(Mode::segment);
    setActiveShort(std::nullopt);
    setSelectedCut(std::nullopt);
    setRange(std::nullopt);
    setSelectedLines(std::nullopt);
    setThumbs({});
    undoStack_.clear();
    redoStack_.clear();
    setCanUndo(false);
    setCanRedo(false);
    setStatus(QString());
    setWorking(false);
    browser_->load(std::nullopt, 1);
    waves_->reset(std::nullopt, std::nullopt);
    setJobs({});
    // A pause point of the closed recording must not carry over.
    stopAt.reset();
}

// ---- setters ----

void AppModel::setProject(Project project)
{
    project_ = std::move(project);
    Q_EMIT projectChanged();
}

#define VANTOREL_SETTER(Name, field, Type, signal)                                                                     \
    void AppModel::Name(Type v)                                                                                        \
    {                                                                                                                  \
        if (assign(field, v))                                                                                          \
            Q_EMIT signal();                                                                                           \
    }

VANTOREL_SETTER(setVideo, video_, const std::optional<QString>&, videoChanged)
VANTOREL_SETTER(setFile, file_, const std::optional<QString>&, fileChanged)
VANTOREL_SETTER(setSelection, selection_, const std::optional<QString>&, selectionChanged)
VANTOREL_SETTER(assignMode, mode_, Mode, modeChanged)
VANTOREL_SETTER(setActiveShort, activeShort_, const std::optional<QUuid>&, activeShortChanged)
VANTOREL_SETTER(setSelectedCut, selectedCut_, const std::optional<QUuid>&, selectedCutChanged)
VANTOREL_SETTER(setRange, range_, const std::optional<TimeRange>&, rangeChanged)
VANTOREL_SETTER(setSelectedLines, selectedLines_, const std::optional<LineRange>&, selectedLinesChanged)
VANTOREL_SETTER(setStatus, status_, const QString&, statusChanged)
VANTOREL_SETTER(setWorking, working_, bool, workingChanged)
VANTOREL_SETTER(setProblem, problem_, const std::optional<QString>&, problemChanged)
VANTOREL_SETTER(setToast, toast_, const std::optional<QString>&, toastChanged)
VANTOREL_SETTER(setComposing, composing_, bool, composingChanged)
VANTOREL_SETTER(setAskingAI, askingAI_, bool, askingAIChanged)
VANTOREL_SETTER(setFresh, fresh_, const std::optional<QString>&, freshChanged)
VANTOREL_SETTER(setExporting, exporting_, bool, exportingChanged)
VANTOREL_SETTER(setSplitting, splitting_, bool, splittingChanged)
VANTOREL_SETTER(setComposeStatus, composeStatus_, const QString&, composeStatusChanged)
VANTOREL_SETTER(setRecents, recents_, const QStringList&, recentsChanged)
VANTOREL_SETTER(setCanUndo, canUndo_, bool, canUndoChanged)
VANTOREL_SETTER(setCanRedo, canRedo_, bool, canRedoChanged)
VANTOREL_SETTER(setExportProgress, exportProgress_, const std::optional<double>&, exportProgressChanged)
VANTOREL_SETTER(setExportLabel, exportLabel_, const QString&, exportLabelChanged)

#undef VANTOREL_SETTER

void AppModel::setThumbs(const QMap<QString, QImage>& v)
{
    if (assign(thumbs_, v))
        Q_EMIT thumbsChanged();
}

void AppModel::setJobs(std::vector<Job> v)
{
    if (assign(jobs_, std::move(v)))
        Q_EMIT jobsChanged();
}

void AppModel::setVolume(float v)
{
    player_->setVolume(v);
    Prefs::shared().set(QStringLiteral("volume"), double(v));
    if (assign(volume_, v))
        Q_EMIT volumeChanged();
}
