#pragma once

// The one application model: the open recording and its project, the selection, the
// jobs, the players and caches the views draw from, and every operation that the views,
// the menus and the command line call. It lives on the main thread; every observed
// property has its own change signal and notifies only on a real change (`project`
// notifies on every set).
//
// The lifecycle half (opening, creating, starting, closing, saving, housekeeping, the
// activity log) is in model/lifecycle; the editing half in model/editing.

#include "core/project/Activity.h"
#include "core/project/PackageLock.h"
#include "core/project/Records.h"
#include "model/editing/Clock.h"
#include "model/editing/Composition.h"
#include "model/editing/FileManager.h"
#include "model/editing/Frames.h"
#include "platform/Observable.h"
#include "model/editing/SeekQueue.h"
#include "model/editing/StreamBrowser.h"
#include "model/editing/TimeRange.h"
#include "model/editing/Waves.h"
#include "platform/Cancel.h"
#include "platform/TaskHandle.h"
#include "platform/media/Media.h"
#include "platform/media/Player.h"

#include <QCoro/QCoroTask>
#include <QImage>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QUuid>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

// What the main player shows: the recording, or the active Short.
enum class Mode { segment, shortClip };

struct LineRange {
    int lower = 0;
    int upper = 0;
    bool operator==(const LineRange&) const = default;
};

// Where Short playback pauses, and where it jumps back to (Short times).
struct StopAt {
    double at = 0;
    double back = 0;
    bool operator==(const StopAt&) const = default;
};

// The dialogs the model may ask the user through. The windowed application installs
// real ones; without them (command-line jobs, tests) nothing is asked. Each opens its
// dialog and resumes with the answer once the user has given it: a path, or nothing
// when the dialog was cancelled. The model's work goes on meanwhile.
struct Panels {
    using Answer = QCoro::Task<std::optional<QString>>;
    // "Where is …?" for a moved recording: the chosen recording.
    std::function<Answer(QString message)> locateRecording;
    // A new package name, starting in `folder` with `proposed` as the name.
    std::function<Answer(QString folder, QString proposed)> savePackage;
    // A recording or a project to open.
    std::function<Answer()> openItem;
};

class Transcriber;
class WorkList;

class AppModel : public QObject {
    Q_OBJECT
public:
    // One undo or redo state.
    struct Snapshot {
        std::vector<Short> shorts;
        std::optional<QUuid> active;
        std::vector<Segment> segments;
        bool operator==(const Snapshot&) const = default;
    };

    // Players are made by Player::makeDefault() unless given (tests give fakes).
    explicit AppModel(std::unique_ptr<Player> player = nullptr, std::unique_ptr<Player> browserPlayer = nullptr,
                      QObject* parent = nullptr);
    ~AppModel() override;

    static Project emptyProject();

    // ---- observed state ----
    const std::optional<QString>& video() const { return video_; }
    const std::optional<QString>& file() const { return file_; }
    const Project& project() const { return project_; }
    const std::optional<QString>& selection() const { return selection_; }
    Mode mode() const { return mode_; }
    const std::optional<QUuid>& activeShort() const { return activeShort_; }
    const std::optional<QUuid>& selectedCut() const { return selectedCut_; }
    const std::optional<TimeRange>& range() const { return range_; }
    const std::optional<LineRange>& selectedLines() const { return selectedLines_; }
    const QString& status() const { return status_; }
    bool working() const { return working_; }
    const std::optional<QString>& problem() const { return problem_; }
    const std::optional<QString>& toast() const { return toast_; }
    const QMap<QString, QImage>& thumbs() const { return thumbs_; }
    const std::optional<double>& exportProgress() const { return exportProgress_; }
    const QString& exportLabel() const { return exportLabel_; }
    bool composing() const { return composing_; }
    bool askingAI() const { return askingAI_; }
    const std::vector<Job>& jobs() const { return jobs_; }
    const std::optional<QString>& fresh() const { return fresh_; }
    bool exporting() const { return exporting_; }
    bool splitting() const { return splitting_; }
    const QString& composeStatus() const { return composeStatus_; }
    const QStringList& recents() const { return recents_; }
    bool canUndo() const { return canUndo_; }
    bool canRedo() const { return canRedo_; }
    float volume() const { return volume_; }

    // The views write these directly.
    void setProject(Project project);
    void setSelection(const std::optional<QString>& v);
    void setSelectedCut(const std::optional<QUuid>& v);
    void setRange(const std::optional<TimeRange>& v);
    void setSelectedLines(const std::optional<LineRange>& v);
    void setProblem(const std::optional<QString>& v);
    void setToast(const std::optional<QString>& v);
    void setAskingAI(bool v);
    void setFresh(const std::optional<QString>& v);
    void setExporting(bool v);
    void setSplitting(bool v);
    // Applies the volume to the player and stores it in the preferences.
    void setVolume(float v);

    // ---- owned models ----
    Clock& clock() const { return *clock_; }
    Player& player() const { return *player_; }
    Frames& frames() const { return *frames_; }
    StreamBrowser& browser() const { return *browser_; }
    Waves& waves() const { return *waves_; }

    // ---- plain state ----
    const std::optional<MediaInfo>& asset() const { return asset_; }
    const Transform& transform() const { return transform_; }
    bool scrubbing = false;
    // A hand scrub of the main player is under way (written by the views): its seeks go
    // one at a time, the newest waiting while one is on its way.
    bool handScrubbing = false;
    bool resumeAfterScrub = false;
    std::optional<StopAt> stopAt;
    const std::optional<TaskHandle>& pipeline() const { return pipeline_; }
    Panels panels;
    // Shows a written file or folder to the user: false when nothing could show it. Tests
    // put in a recorder.
    std::function<QCoro::Task<bool>(QString path)> revealFile = FileManager::show;

    // ---- opening and closing ----
    // Opens a package (".vtrl") or a recording. False when the recording has no project
    // beside it (the caller sets it up); true otherwise, with any failure in `problem`.
    QCoro::Task<bool> open(QString path);
    QCoro::Task<> openProject(QString package);
    // The package that `open` opens for `path`: the path itself when it names a package,
    // else the project beside the recording (a damaged one too, at a name its project is
    // given); none when it has none.
    static std::optional<QString> packageOf(QString path);
    // Sets up a new project for a recording that has none. Where it has one by now (a job
    // or another window made it meanwhile), that one is opened instead and the toast says so.
    QCoro::Task<> create(QString video, QString markers, QString note, double before, double after,
                         bool transcribe, bool summarize, bool ideas);
    void close();
    // The package `create` writes for these: the usual name, or the first free one when
    // another recording's project holds it.
    static QString packageFor(const QString& video, const std::optional<QString>& markers);
    // The marker times of a marker file as `create` reads them (its text into `text`).
    // Throws Fail when the file cannot be read or is not UTF-8 text.
    static std::vector<double> readMarks(const QString& markers, QString* text = nullptr);

    // ---- saving and housekeeping ----
    void save();
    void saveNow();
    // Both ask through `panels` and end once the user has answered (and, for openPanel,
    // the chosen item has been opened); nobody needs to wait for them.
    QCoro::Task<> duplicate();
    void purgeCache();
    QCoro::Task<> openPanel();

    // ---- the activity log ----
    double spent() const;
    void runAgain(const Job& job);
    void cancelWork();
    // Whether `job` runs with a cancel token of its own that has not fired yet, so that
    // `stop` really stops it.
    bool stoppable(const QUuid& job) const;
    // Stops that job: the pipeline's work as `cancelWork` does, any other by its token.
    void stop(const QUuid& job);
    std::optional<double> estimate(const Rerun& rerun) const;
    std::vector<QString> unsummarized() const;
    std::vector<QString> untranscribed() const;

    // ---- the pipeline, transcription and Ask AI ----
    void runPipeline(bool ideasAgain, bool summariesAgain, bool transcribeNow, bool firstRun,
                     std::set<QString> summarize);
    void transcribeAgain(std::vector<QString> ids, QString engineKey);
    void retry(const QString& id);
    // Nothing when a Short was made, else the sentence for the user. `cancel` stops the
    // request (the Ask AI sheet's or the activity window's Stop).
    QCoro::Task<std::optional<QString>> compose(QString instruction, std::set<QString> include, Cancel cancel = {});
    // The sentence with which `compose` refuses to ask about `project` at all; nothing when
    // it would ask.
    static std::optional<QString> composeRefusal(const Project& project);

    // ---- undo history ----
    void undo();
    void redo();

    // ---- Short tabs ----
    std::vector<Short> openShorts() const;
    void newShort();
    void closeTab(const QUuid& id);
    std::optional<Idea> idea(const Short& s) const;
    bool isEdited(const Short& s) const;
    void revert(const Idea& idea);
    void openIdea(const Idea& idea);
    void activate(const QUuid& id);
    void duplicateShort(const QUuid& id);
    void rename(const QUuid& id, const QString& title);
    void deleteShort(const QUuid& id);

    // ---- cut editing ----
    std::vector<Cut> cuts() const;
    void addRange();
    void splitAtPlayhead();
    void removeCut();
    void extend(const QUuid& cut, Edge edge, double to);
    void moveCut(int from, int to);
    void trim(const QUuid& cut, Edge edge, double to, std::optional<double> snapWithin);
    void endTrim(const QUuid& cut, Edge edge);

    // ---- segment edits ----
    void addSegment(TimeRange range);
    void rate(const QString& id, std::optional<int> rating);
    bool touchesNext(const QString& id) const;
    void joinWithNext(const QString& id);
    void splitSegment();
    void correct(const QString& id, int line, const QString& text);
    void removeSegment(const QString& id);
    int shortsUsing(const Segment& segment) const;

    // ---- playback and time mapping ----
    struct Place {
        int cut = 0;
        double time = 0;
        bool operator==(const Place&) const = default;
    };
    void seek(double time);
    void showSource(std::optional<double> at);
    void showShort(double at);
    void show(const QString& segment);
    void setMode(Mode mode);
    void scrubShort(double to);
    void togglePlay();
    void step(double seconds);
    void mark(Edge edge);
    // Unmarks: no range and no selected lines.
    void clearRange()
    {
        setRange(std::nullopt);
        setSelectedLines(std::nullopt);
    }
    void selectLine(int index, bool extend);
    std::optional<Place> locate(double shortTime) const;
    std::optional<double> shortTime(double recordingTime) const;
    double recordingTime() const;

    // ---- export ----
    // The cuts laid back to back over the open recording; none without one or without cuts.
    std::optional<Composition> composition(const std::vector<Cut>& cuts) const;
    // `cancel` stops the running ffmpeg; the job then ends as cancelled.
    QCoro::Task<> exportShort(QString mp4, bool subtitles, bool reveal, Cancel cancel = {});
    QCoro::Task<> exportAll(QString folder, bool subtitles, Cancel cancel = {});

Q_SIGNALS:
    void videoChanged();
    void fileChanged();
    void projectChanged();
    void selectionChanged();
    void modeChanged();
    void activeShortChanged();
    void selectedCutChanged();
    void rangeChanged();
    void selectedLinesChanged();
    void statusChanged();
    void workingChanged();
    void problemChanged();
    void toastChanged();
    void thumbsChanged();
    void exportProgressChanged();
    void exportLabelChanged();
    void composingChanged();
    void askingAIChanged();
    void jobsChanged();
    void freshChanged();
    void exportingChanged();
    void splittingChanged();
    void composeStatusChanged();
    void recentsChanged();
    void canUndoChanged();
    void canRedoChanged();
    void volumeChanged();

private:
    // Let the tests reach the job facility before its callers exist, and the thumbnails.
    friend struct AppModelProbe;
    friend struct ThumbsProbe;
    using Builder = std::function<Project(double duration)>;

    // Lifecycle. `hold` is this process's hold on `file`, taken before the project was read;
    // `read` the version of the document that was read (none for a new project).
    QCoro::Task<> start(QString file, QString video, bool isNew, Builder builder, PackageLock hold,
                        std::optional<DiskVersion> read);
    // Opens the package that `hold` holds for this process.
    QCoro::Task<> openHeld(QString package, PackageLock hold);
    // The sentence for a package that appeared while a new project was being set up for it.
    static QString madeMeanwhile(const QString& package);
    QCoro::Task<std::optional<QString>> locateRecording(QString stored);
    void remember(const QString& package);
    bool writeProject();
    void loadThumbs();
    QCoro::Task<> makeThumbs(QString video, std::vector<std::pair<QString, double>> work, int generation);

    // The job facility: records a job around `work` (see Jobs.h).
    // `cancel` is the token the work observes: a failure after it fired ends the job as
    // "cancelled" rather than "failed".
    template <class T, class Work>
    QCoro::Task<T> job(QString kind, QString title, QString detail, QString engine, std::optional<Rerun> rerun,
                       Work work, Cancel cancel);
    struct JobLabel {
        QString kind, title, detail, engine;
        std::optional<Rerun> rerun;
    };
    // `unkept`, when given, is asked as the work returns: a reason when its result can no
    // longer be used, which ends the job as "cancelled" with that reason.
    template <class T>
    QCoro::Task<T> runJob(JobLabel label, std::function<QCoro::Task<T>(Trace&)> work, Cancel cancel,
                          std::function<std::optional<QString>()> unkept = {});
    void finish(const QUuid& id, const Trace& trace, const QString& state, const std::optional<QString>& error);
    void log(const Job& job);
    void note(const QString& title, const QString& detail);
    void loadActivity();

    // The pipeline: one run at a time, held in `pipeline_`.
    struct Run {
        QString video;  // the recording it works for
        int generation; // the opening it works for
        int number;     // its place among the runs started; the newest is in `pipeline_`
        Cancel cancel;
    };
    struct RunRequest {
        bool ideasAgain = false;
        bool summariesAgain = false;
        bool transcribeNow = false;
        bool firstRun = false;
        std::set<QString> summarize;
        bool leftovers = false; // only segments without an error: a failed one waits for a retry
    };
    // Cancels the held run and holds a new one doing `work`.
    void startRun(std::function<QCoro::Task<>(AppModel&, Run)> work);
    QCoro::Task<> pipelineRun(RunRequest request, Run run);
    QCoro::Task<> transcribeRun(std::vector<QString> ids, std::shared_ptr<const Transcriber> engine, QString key,
                                Run run);
    // The stretch that was heard when the segment was joined, split or removed meanwhile:
    // the outcome was dropped, and what now holds that stretch may still need lines.
    QCoro::Task<std::optional<TimeRange>> transcribe(QString id, std::shared_ptr<const Transcriber> engine,
                                                     QString key, Run run);
    template <class T>
    QCoro::Task<std::optional<T>> aiStep(Run run, QString status, JobLabel label,
                                         std::function<QCoro::Task<T>(Trace&)> work);
    // At the normal end of a run: an edit made meanwhile may have left a segment without
    // lines that no run will hear (a join during a summary, or beside the segments being
    // transcribed again). A new run, held in `pipeline_`, then hears it with the engine of
    // the settings, when the project transcribes by itself or `transcribeNow`. True when
    // one was started; it takes over `working` and `status`.
    bool hearLeftovers(const Run& run, const WorkList& work, bool transcribeNow);
    // True while the opening a run works for is still the open one.
    bool stillFor(const Run& run) const;
    // Ends a run: a run that a newer one replaced leaves `working` and `status` to that one.
    void endRun(const Run& run, std::optional<QString> status = std::nullopt);
    void merge(const std::vector<Segment>& summaries);

    // Editing.
    Snapshot snapshot() const;
    void commit();
    void travel(std::vector<Snapshot>& from, std::vector<Snapshot>& to);
    void restore(const Snapshot& snapshot);
    // The follow-up of every cut edit: saves, and in Short mode shows the edited Short
    // again from `keeping` (a Short time; the playhead when none).
    void edited(std::optional<double> keeping);
    // The start and end of every transcript line, segment by segment, in stored order.
    std::vector<double> snapPoints() const;
    void makeActive(const std::optional<QUuid>& id);
    std::optional<QUuid> firstOpen() const;
    void tick(double seconds);
    void follow();
    // Puts the recording (not a Short of it) into the main player, unless it is there.
    void holdRecording();
    // Puts `path` (none: nothing) into the main player.
    void holdSource(const std::optional<QString>& path);

    // Export. What one file is made from, taken from the model when its export starts
    // (defined in Export.cpp); writing it reads nothing else.
    struct ExportTake;
    ExportTake exportTake(const Short& s, const QString& mp4, std::shared_ptr<const Project> words) const;
    QCoro::Task<> write(ExportTake take, Cancel cancel);
    // Runs `write` as an "export" job: the failure's sentence, or none.
    QCoro::Task<std::optional<QString>> exportJob(ExportTake take, Cancel cancel);
    // Shows `path` in the file manager (when given), then the toast `said`, which tells when
    // no file manager could show `what`.
    QCoro::Task<> toastShowing(QString said, std::optional<QString> path, QString what);
    void setExportProgress(const std::optional<double>& v);
    void setExportLabel(const QString& v);

    // Setters of observed state that only the model writes.
    void setVideo(const std::optional<QString>& v);
    void setFile(const std::optional<QString>& v);
    void assignMode(Mode v);
    void setActiveShort(const std::optional<QUuid>& v);
    void setStatus(const QString& v);
    void setWorking(bool v);
    void setThumbs(const QMap<QString, QImage>& v);
    void setComposing(bool v);
    void setJobs(std::vector<Job> v);
    void setComposeStatus(const QString& v);
    void setRecents(const QStringList& v);
    void setCanUndo(bool v);
    void setCanRedo(bool v);

    std::optional<QString> video_;
    std::optional<QString> file_;
    // Held while `file_` is open, so that no other process works on it meanwhile.
    std::optional<PackageLock> hold_;
    // The document as this model last read or wrote it: a save finds out from it whether
    // anyone else wrote the document since (a process that holds no lock).
    std::optional<DiskVersion> written_;
    Project project_;
    std::optional<QString> selection_;
    Mode mode_ = Mode::segment;
    std::optional<QUuid> activeShort_;
    std::optional<QUuid> selectedCut_;
    std::optional<TimeRange> range_;
    std::optional<LineRange> selectedLines_;
    QString status_;
    bool working_ = false;
    std::optional<QString> problem_;
    std::optional<QString> toast_;
    QMap<QString, QImage> thumbs_;
    std::optional<double> exportProgress_;
    QString exportLabel_;
    bool composing_ = false;
    int composeRuns_ = 0;
    bool askingAI_ = false;
    std::vector<Job> jobs_;
    std::map<QUuid, Cancel> stops_; // the tokens of running jobs, by job
    std::optional<QString> fresh_;
    bool exporting_ = false;
    bool splitting_ = false;
    QString composeStatus_;
    QStringList recents_;
    bool canUndo_ = false;
    bool canRedo_ = false;
    float volume_ = 1;

    std::unique_ptr<Clock> clock_;
    // Before the player, so that it outlives it: the player may report while it goes.
    std::unique_ptr<SeekQueue> seeks_; // every seek of the main player
    std::unique_ptr<Player> player_;
    std::unique_ptr<Frames> frames_;
    std::unique_ptr<StreamBrowser> browser_;
    std::unique_ptr<Waves> waves_;

    std::optional<MediaInfo> asset_;
    Transform transform_;
    std::optional<QString> sourceItem_;
    std::vector<Snapshot> undoStack_;
    std::vector<Snapshot> redoStack_;
    std::optional<TaskHandle> pipeline_;
    int runs_ = 0; // pipeline runs started, for telling the held one
    int pipelineGeneration_ = -1; // the opening that the run in `pipeline_` works for

    // Bumped by every close(): work begun for an earlier opening (a start still loading,
    // a thumbnail task) sees the change and drops what it has.
    int generation_ = 0;
};
