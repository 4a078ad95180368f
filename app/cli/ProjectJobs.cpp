// The jobs that work on a recording's project through an AppModel of their own: run the
// pipeline, export a Short, ask AI for a Short, add a segment. They drive the same
// operations as the windows and save nothing themselves.

#include "app/cli/Main.h"

#include "core/project/Fail.h"
#include "core/project/Markers.h"
#include "core/project/PackageLock.h"
#include "model/lifecycle/AppModel.h"
#include "platform/media/Media.h"

#include <QCoro/QCoroTimer>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <unistd.h>

namespace Main {

namespace {

QString absolute(const QString& path)
{
    return QFileInfo(path).absoluteFilePath();
}

// The job's model. It stays until the process ends, so that nothing it started (a
// cancelled pipeline, a price refresh) ever outlives it.
AppModel& makeModel()
{
    return *new AppModel;
}

// The project of a recording, held for the job and read as it is stored, before the
// job's model opens it. What a job refuses is checked on this, while nothing has been
// written: opening keeps a backup, puts the project first among the recents and saves it,
// and a refused job does none of that. A project that a window or another job has open is
// refused before anything is read: the job's saves and that one's would each write over
// the other's.
struct Held {
    QString path;                    // as the job was given it, absolute
    std::optional<QString> package;  // none: the recording has no project yet
    std::optional<PackageLock> lock; // kept until the model holds the package itself
    std::optional<Project> project;  // none where it cannot be read (opening tells why)
};

Held hold(const QString& recording)
{
    Held held{absolute(recording), std::nullopt, std::nullopt, std::nullopt};
    held.package = AppModel::packageOf(held.path);
    if (!held.package)
        return held;
    held.lock = PackageLock::take(*held.package);
    if (!held.lock)
        throw Fail(PackageLock::refusal(*held.package));
    try {
        held.project = Project::load(*held.package);
    } catch (const Fail&) {
        // Opening reads it again and tells the user why it cannot.
    }
    return held;
}

// Refuses a job whose work (paid for) is saved into a project that cannot be written, before
// anything is asked or paid: it would fail only once the work was done.
void refuseUnsaved(const Held& held)
{
    if (held.package)
        if (const std::optional<QString> refusal = Project::unwritable(*held.package))
            throw Fail(*refusal);
}

// Opens the held project in the job's model: false when the recording has none.
QCoro::Task<bool> openHeld(AppModel& model, Held held)
{
    co_return co_await model.open(held.path);
}

Fail noProject()
{
    return Fail(QStringLiteral("That recording has no project yet."));
}

Fail noShort()
{
    return Fail(QStringLiteral("That recording has no Short yet."));
}

// Until the work has ended, also when a run hands over to a new one at its end.
QCoro::Task<> pipelineEnd(const AppModel& model)
{
    for (std::optional<TaskHandle> pipeline = model.pipeline(); pipeline; pipeline = model.pipeline()) {
        co_await pipeline->done();
        if (model.pipeline() == pipeline)
            break;
    }
}

void failOnProblem(const AppModel& model)
{
    if (model.problem())
        throw Fail(*model.problem());
}

// A project that could not be opened (its recording is gone, it cannot be read) has
// neither Shorts nor transcripts in the model: the reason is what the user needs to hear.
void failUnopened(const AppModel& model)
{
    if (!model.file())
        failOnProblem(model);
}

// Refuses an output whose folder is missing or cannot be written, before the project is
// opened: the export would fail only after opening kept a backup and logged its job.
void refuseOutput(const QString& output)
{
    const QString folder = QFileInfo(output).absolutePath();
    const QString failed = QStringLiteral("The Short could not be exported. The folder ") + folder;
    if (!QFileInfo::exists(folder))
        throw Fail(failed + QStringLiteral(" does not exist."));
    if (!QFileInfo(folder).isDir())
        throw Fail(failed + QStringLiteral(" is a file, not a folder."));
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        throw Fail(failed + QStringLiteral(" cannot be written (") + qt_error_string(errno) + QStringLiteral(")."));
}

// The segments whose transcripts go with an Ask AI request: every one for "all", else the
// ids split at commas, empty pieces dropped and nothing trimmed.
std::set<QString> named(const Project& project, const QString& segments)
{
    std::set<QString> include;
    if (segments == u"all") {
        for (const Segment& s : project.segments)
            include.insert(s.id);
    } else {
        for (const QString& id : segments.split(u',', Qt::SkipEmptyParts))
            include.insert(id);
    }
    return include;
}

// Refuses an id the project does not have before anything is asked (and paid for): the
// request would go without that transcript, or fail after it was paid.
void refuseUnknown(const Project& project, const QString& segments)
{
    for (const QString& id : named(project, segments)) {
        if (std::none_of(project.segments.begin(), project.segments.end(), [&](const Segment& s) { return s.id == id; }))
            throw Fail(QStringLiteral("The project has no segment \"") + id + QStringLiteral("\"."));
    }
}

const Short* active(const AppModel& model)
{
    for (const Short& s : model.project().shorts) {
        if (model.activeShort() && s.id == *model.activeShort())
            return &s;
    }
    return nullptr;
}

QString seconds(double value)
{
    return QString::asprintf("%.1f s", value);
}

// One line per segment; `untranscribed` is the count shown for a segment without lines.
void listSegments(const Project& project, int untranscribed)
{
    for (const Segment& s : project.segments) {
        const int count = s.lines ? int(s.lines->size()) : untranscribed;
        say(s.id + u' ' + clock(s.start) + u' ' + QString::number(count) + QStringLiteral(" lines | ") + s.title);
    }
}

// The pipeline's status as one line; an empty status (between steps, or a start that
// failed before any step) is no line, so that a failure's "error:" line stands alone.
void sayStatus(const QString& status)
{
    if (!status.isEmpty())
        say(status);
}

// Prints the pipeline's status whenever it changed, looking at once and then every second.
QCoro::Task<> printStatus(const AppModel* model, Cancel cancel)
{
    QString last;
    while (!cancel.cancelled()) {
        if (model->status() != last) {
            last = model->status();
            sayStatus(last);
        }
        co_await QCoro::sleepFor(std::chrono::seconds(1));
    }
}

} // namespace

QCoro::Task<> run(QString recording, QString note)
{
    AppModel& model = makeModel();
    const QString video = absolute(recording);
    Held held = hold(video);
    refuseUnsaved(held);
    if (!co_await openHeld(model, std::move(held))) {
        const std::optional<QString> markers = Markers::find(video);
        if (!markers)
            throw Fail(QStringLiteral("No marker file was found next to the recording."));
        co_await model.create(video, *markers, note, 150, 60, true, true, true);
    }

    TaskHandle::Work printing = [model = &model](Cancel cancel) { return printStatus(model, cancel); };
    const TaskHandle printer = TaskHandle::start(std::move(printing));
    co_await pipelineEnd(model);
    printer.cancel();
    sayStatus(model.status());
    failOnProblem(model);

    listSegments(model.project(), 0);
    for (const Idea& idea : model.project().ideas) {
        double total = 0;
        for (const Cut& cut : idea.cuts)
            total += cut.end - cut.start;
        say(QStringLiteral("idea: ") + idea.title + QStringLiteral(" | ") + QString::number(idea.cuts.size())
            + QStringLiteral(" cuts, ") + seconds(total));
    }
}

QCoro::Task<> exportShort(QString recording, QString output)
{
    Held held = hold(recording);
    if (!held.package)
        throw noProject();
    // Opening makes the project's first Short the active one.
    if (held.project && held.project->shorts.empty())
        throw noShort();
    refuseOutput(absolute(output));
    AppModel& model = makeModel();
    if (!co_await openHeld(model, std::move(held)))
        throw noProject();
    failUnopened(model);
    if (model.pipeline())
        model.pipeline()->cancel();
    if (!active(model))
        throw noShort();
    co_await model.exportShort(absolute(output), true, false);
    failOnProblem(model);
    say(model.toast().value_or(QString()));
}

QCoro::Task<> ask(QString recording, QString segments, QString instruction)
{
    Held held = hold(recording);
    if (!held.package)
        throw noProject();
    if (held.project) {
        if (const std::optional<QString> refusal = AppModel::composeRefusal(*held.project))
            throw Fail(*refusal);
        refuseUnknown(*held.project, segments);
    }
    refuseUnsaved(held);
    AppModel& model = makeModel();
    if (!co_await openHeld(model, std::move(held)))
        throw noProject();
    failUnopened(model);
    if (model.pipeline())
        model.pipeline()->cancel();
    model.setSelection(segments);

    const std::set<QString> include = named(model.project(), segments);
    if (const std::optional<QString> message = co_await model.compose(instruction, include))
        throw Fail(*message);
    // A Short that could not be saved is not reported as made.
    failOnProblem(model);

    if (const Short* made = active(model)) {
        say(made->title + QStringLiteral(" | ") + seconds(made->duration()));
        for (const Cut& cut : made->cuts)
            say(QStringLiteral("  ") + clock(cut.start) + u' ' + seconds(cut.end - cut.start) + u' ' + cut.role);
    }
}

QCoro::Task<> addSegment(QString recording, double start, double end)
{
    // Checked before the project is opened, so that nothing is added or saved.
    if (!std::isfinite(start) || !std::isfinite(end))
        throw Fail(QStringLiteral("The start and the end must be finite numbers of seconds."));
    // Their whole seconds must fit the 64-bit count that clock times are made from.
    const auto fits = [](double t) { return t >= -0x1p63 && t < 0x1p63; };
    if (!fits(start) || !fits(end))
        throw Fail(QStringLiteral("The start and the end are too large to be times of a recording."));
    if (start > end)
        throw Fail(QStringLiteral("The start must not come after the end."));
    refuseBefore(start);

    Held held = hold(recording);
    if (!held.package)
        throw noProject();
    // The length is the recording's as opening will read it; where it cannot be read,
    // opening fails too, and that failure is told below.
    if (const std::optional<QString> video = held.project ? held.project->recording(*held.package) : std::nullopt) {
        std::optional<MediaInfo> info;
        try {
            info = co_await Media::probe(*video);
        } catch (const Fail&) {
        }
        if (info)
            refuseAfter(start, end, info->duration, QStringLiteral("The end must not be after"));
    }
    refuseUnsaved(held);
    AppModel& model = makeModel();
    if (!co_await openHeld(model, std::move(held)))
        throw noProject();
    failUnopened(model);
    model.addSegment(TimeRange{start, end});
    co_await pipelineEnd(model);
    failOnProblem(model);
    listSegments(model.project(), -1);
}

} // namespace Main
