// Draws the program's windows in their states into PNG files, with the fixed font, for
// people to look at. Not a test: run by hand.
//   vantorel_screenshots <folder>

#include "app/shell/MainWindow.h"
#include "app/shell/Menus.h"
#include "app/shell/Settings.h"
#include "core/services/Updates.h"
#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "views/kit/Style.h"
#include "views/kit/Toast.h"
#include "views/kit/Windows.h"
#include "views/editor/Inspector.h"
#include "views/editor/ShortTranscript.h"
#include "views/editor/Transcript.h"
#include "views/editor/Viewer.h"
#include "views/kit/VideoSurface.h"
#include "support/FakePlayer.h"
#include "views/start/SetupList.h"
#include "views/start/SetupSheet.h"
#include "views/start/StartView.h"
#include "views/windows/ActivityView.h"
#include "views/windows/AskAI.h"
#include "views/windows/ExportSheet.h"
#include "views/start/SidebarView.h"
#include "views/start/WorkspaceView.h"
#include "support/Clips.h"
#include "support/gui/SampleProject.h"
#include "screenshots/Shots.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoro/QCoroTask>
#include <QFile>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QAbstractItemView>
#include <QLinearGradient>
#include <clocale>
#include <cmath>
#include <cstdio>

// Gives the model stills without decoding any.
struct ThumbsProbe {
    static void set(AppModel& model, QMap<QString, QImage> thumbs)
    {
        model.thumbs_ = std::move(thumbs);
        Q_EMIT model.thumbsChanged();
    }
    // And shows it at work, without running anything.
    static void working(AppModel& model, bool on) { model.setWorking(on); }
};

// Puts the model into the states the tool windows show.
struct AppModelProbe {
    static void setJobs(AppModel& model, std::vector<Job> jobs) { model.setJobs(std::move(jobs)); }
    static void setExportProgress(AppModel& model, std::optional<double> v) { model.setExportProgress(v); }
    // A running job that Stop would stop, without running anything.
    static void stoppable(AppModel& model, const QUuid& job, bool on)
    {
        if (on)
            model.stops_[job] = Cancel::make();
        else
            model.stops_.erase(job);
    }
    static void setComposing(AppModel& model, bool on, const QString& status)
    {
        model.setComposing(on);
        model.setComposeStatus(status);
    }
};

namespace Shots {

QString out;

// Lets queued work, deferred deletes and the fades run out.
void settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

void save(QWidget* w, const QString& name)
{
    settle();
    const QString path = out + u'/' + name + QStringLiteral(".png");
    w->grab().save(path);
    std::printf("%s\n", qPrintable(path));
}

std::vector<std::function<void()>>& more()
{
    static std::vector<std::function<void()>> list;
    return list;
}

int add(std::function<void()> shots)
{
    more().push_back(std::move(shots));
    return int(more().size());
}

} // namespace Shots

using namespace Shots;

namespace {

std::vector<Setup::Item> missingNow();

QCoro::Task<std::vector<Setup::Item>> missing()
{
    co_return missingNow();
}

std::vector<Setup::Item> missingNow()
{
    return {{QStringLiteral("ffmpeg"), true, QStringLiteral("Reads the sound out of a recording."),
             QStringLiteral("sudo apt install ffmpeg")},
            {QStringLiteral("whisper"), false, QStringLiteral("Transcribes on this computer."),
             QStringLiteral("brew install whisper-cpp")},
            {QStringLiteral("whisper model"), false, QStringLiteral("The model whisper listens with, 1.6 GB."),
             QStringLiteral("mkdir -p ~/.whisper-models && curl -L -o …")},
            {QStringLiteral("OpenRouter key"), false,
             QStringLiteral("For summaries, Short ideas and Ask AI. Paste it in Settings."), std::nullopt}};
}

QCoro::Task<std::vector<Setup::Item>> ready()
{
    auto items = missingNow();
    for (auto& item : items)
        item.ready = true;
    co_return items;
}

// A menu as it shows under the menu bar, drawn beside nothing else.
void saveMenu(QMenu* menu, const QString& name)
{
    menu->popup(QPoint(0, 0));
    settle();
    save(menu, name);
    menu->hide();
}

// A still for each segment: a band of colour that changes along the list.
QMap<QString, QImage> stills(const Project& project)
{
    QMap<QString, QImage> out;
    int n = 0;
    for (const Segment& s : project.segments) {
        if (s.id == u"06")
            continue; // one without a still yet
        QImage image(160, 90, QImage::Format_RGB32);
        QPainter p(&image);
        QLinearGradient g(0, 0, 160, 90);
        g.setColorAt(0, QColor::fromHsv((n * 47) % 360, 160, 200));
        g.setColorAt(1, QColor::fromHsv((n * 47 + 60) % 360, 200, 90));
        p.fillRect(image.rect(), g);
        out.insert(s.id, image);
        ++n;
    }
    return out;
}

void setupSheet(const QString& folder, const Root::Options& quiet)
{
    QDir().mkpath(folder);
    const QString recording = Clips::video(folder + QStringLiteral("/Stream 12 final.mp4"), 4);
    QFile csv(folder + QStringLiteral("/Stream 12.csv"));
    if (csv.open(QIODevice::WriteOnly))
        csv.write("0:00:01\n0:00:02\n0:00:03\n");
    csv.close();
    AppModel model;
    MainWindow window(model, {}, quiet);
    window.show();
    settle();
    model.setFresh(recording);
    settle(800);
    auto* start = qobject_cast<StartView*>(window.root()->face());
    auto* sheet = start ? qobject_cast<SetupSheet*>(start->sheet()) : nullptr;
    if (!sheet)
        return;
    save(sheet, QStringLiteral("setup-sheet"));
    sheet->transcribeBox()->setChecked(false);
    sheet->setMarkers(std::nullopt);
    save(sheet, QStringLiteral("setup-sheet-no-markers"));
    sheet->reject();
}

Job jobOf(int n, const QString& kind, const QString& title, const QString& state, double took, std::optional<double> cost)
{
    Job j;
    j.id = sample::id(900 + n);
    j.kind = kind;
    j.title = title;
    j.state = state;
    j.started = 818000000 + n * 60;
    if (state != u"running")
        j.ended = j.started + took;
    j.cost = cost;
    return j;
}

// The activity window, the Ask AI sheet and the export sheet over the open sample.
void tools(AppModel& model, QWidget* window)
{
    {
        ActivityView activity(model);
        activity.resize(980, 600);
        activity.show();
        save(&activity, QStringLiteral("activity-empty"));
        Job transcribe = jobOf(1, QStringLiteral("transcribe"), QStringLiteral("Transcribe 02"), QStringLiteral("done"), 48.2, std::nullopt);
        transcribe.engine = QStringLiteral("whisper (on this computer)");
        transcribe.rerun = Rerun{Rerun::Transcribe{QStringLiteral("02"), QStringLiteral("whisper")}};
        Job failed = jobOf(2, QStringLiteral("summarize"), QStringLiteral("Summarize 12 segments"), QStringLiteral("failed"), 3.4, 0.0041);
        failed.engine = QStringLiteral("anthropic/claude-haiku-5.5");
        failed.error = QStringLiteral("The AI service did not answer in time. Check the connection and try again.");
        failed.request = QStringLiteral("Summarize each segment of this stream.\n\n01 [0:00-2:30] no way, no way…");
        failed.rerun = Rerun{Rerun::Summarize{}};
        Job note = jobOf(3, QStringLiteral("note"), QStringLiteral("Project made"), QStringLiteral("note"), 0, std::nullopt);
        note.detail = QStringLiteral("14 segments from Friday night.csv");
        Job ask = jobOf(4, QStringLiteral("ask"), QStringLiteral("Ask AI for a Short"), QStringLiteral("done"), 75.25, 0.0312);
        ask.detail = QStringLiteral("the part where he admires the moon");
        ask.engine = QStringLiteral("anthropic/claude-sonnet-5.5");
        ask.request = QStringLiteral("Cut a Short of under a minute from this stream: the part where he admires the moon.");
        QString reply;
        for (int i = 0; reply.size() < 7000; ++i)
            reply += QStringLiteral("{\"from\":\"%1.01\",\"to\":\"%1.04\",\"why\":\"the moon line lands here\"}\n").arg(i % 100, 2, 10, QLatin1Char('0'));
        ask.reply = reply;
        ask.rerun = Rerun{Rerun::Ask{ask.detail, {QStringLiteral("02")}}};
        Job running = jobOf(5, QStringLiteral("ideas"), QStringLiteral("Look for Short ideas"), QStringLiteral("running"), 0, std::nullopt);
        running.engine = QStringLiteral("anthropic/claude-haiku-5.5");
        // An answer of one unbroken run of characters, as a gateway may send.
        Job unbroken = jobOf(0, QStringLiteral("transcribe"), QStringLiteral("Transcribe 05"), QStringLiteral("failed"), 2.1, std::nullopt);
        unbroken.engine = QStringLiteral("elevenlabs/scribe-v2");
        unbroken.error = QStringLiteral("The transcription service sent something that is not a transcript.");
        unbroken.reply = QString(900, u'Q') + QStringLiteral("==");
        AppModelProbe::setJobs(model, {running, ask, note, failed, transcribe, unbroken});
        // The pipeline at work: Stop in the header and in the footer.
        AppModelProbe::stoppable(model, running.id, true);
        ThumbsProbe::working(model, true);
        save(&activity, QStringLiteral("activity-running"));
        ThumbsProbe::working(model, false);
        AppModelProbe::stoppable(model, running.id, false);
        for (const auto& [row, name] : {std::pair{1, "activity-long-reply"}, {2, "activity-note"}, {3, "activity-failed"},
                                        {4, "activity-done"}, {5, "activity-unbroken"}}) {
            activity.list()->setCurrentIndex(activity.list()->model()->index(row, 0));
            save(&activity, QString::fromLatin1(name));
        }
        // The end of the long reply, where it says how much more Copy takes.
        activity.list()->setCurrentIndex(activity.list()->model()->index(1, 0));
        settle();
        if (auto* pane = activity.findChild<QScrollArea*>()) {
            pane->verticalScrollBar()->setValue(pane->verticalScrollBar()->maximum());
            save(&activity, QStringLiteral("activity-long-reply-end"));
        }
        AppModelProbe::setJobs(model, {});
    }
    {
        auto* ask = new AskAI(model, window);
        ask->setAttribute(Qt::WA_DeleteOnClose);
        ask->open();
        save(ask, QStringLiteral("ask-idle"));
        ask->instruction()->setPlainText(QStringLiteral("the part where he admires the moon"));
        ask->allButton()->click();
        AppModelProbe::setComposing(model, true, QStringLiteral("Reading 3 transcripts…"));
        save(ask, QStringLiteral("ask-composing"));
        AppModelProbe::setComposing(model, false, QString());
        ask->requestReturned(QStringLiteral("The answer named a line that is not in segment 04. Try again, or tick that segment."));
        save(ask, QStringLiteral("ask-failure"));
        ask->close();
    }
    {
        model.activate(sample::id(201));
        auto* sheet = new ExportSheet(model, window);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->open();
        save(sheet, QStringLiteral("export-idle"));
        AppModelProbe::setExportProgress(model, 0.42);
        save(sheet, QStringLiteral("export-running"));
        AppModelProbe::setExportProgress(model, std::nullopt);
        sheet->close();
    }
}

void workspace(const QString& folder, const Root::Options& quiet)
{
    QDir().mkpath(folder);
    const QString recording = Clips::video(folder + QStringLiteral("/Friday night.mp4"), 4);
    const QString package = folder + QStringLiteral("/Friday night.vtrl");
    const Project project = sample::sampleProject(recording);
    project.save(package);
    AppModel model;
    MainWindow window(model, {}, quiet);
    window.show();
    QCoro::waitFor(model.openProject(package));
    settle();
    auto* space = qobject_cast<WorkspaceView*>(window.root()->face());
    if (!space)
        return;
    SidebarView* side = space->sidebar();
    ThumbsProbe::set(model, stills(project));
    model.activate(sample::id(201));
    model.setSelection(QStringLiteral("02"));
    save(&window, QStringLiteral("workspace-segments"));
    {
        // The sidebar at its narrowest and at its usual width, with both notices, long
        // titles and, in the shorter one, the scroll bar.
        Project waiting = model.project();
        for (int i = 0; i < 6; ++i) {
            Segment s = sample::seg(QString::asprintf("w%d", i), 8000 + i * 300, 8200 + i * 300,
                                    QStringLiteral("The raid where everyone forgot the plan and it worked anyway"));
            if (i % 2)
                s.lines = sample::said(s.start);
            waiting.segments.push_back(s);
        }
        model.setProject(waiting);
        for (const int width : {280, 312}) {
            for (const int height : {1400, 620}) {
                SidebarView narrow(model);
                // Fixed, as the workspace's column holds it: a window of its own picks a width.
                narrow.setFixedSize(width, height);
                narrow.show();
                save(&narrow, QStringLiteral("sidebar-%1%2").arg(width).arg(height < 1000 ? QStringLiteral("-scrolling")
                                                                                         : QString()));
            }
        }
        // Texts without a place to break, Thai and a long kind, at the narrowest width.
        const QString unbroken = QStringLiteral("#") + QString(60, u'w');
        const QString thai = QString::fromUtf8("ไฮไลต์การต่อสู้กับบอสที่ยาวมากจนต้องขึ้นบรรทัดใหม่");
        waiting.ideas.push_back({sample::id(900), unbroken, thai, QStringLiteral("a very long kind of Short indeed"),
                                 unbroken, {sample::cut(90, 100, 110)}});
        waiting.shorts.push_back({sample::id(950), unbroken, std::nullopt, {sample::cut(95, 100, 110)}, std::nullopt});
        waiting.shorts.push_back({sample::id(951), thai, std::nullopt, {sample::cut(96, 100, 110)}, std::nullopt});
        waiting.shorts.push_back({sample::id(952), QStringLiteral("A title the AI\nbroke over\nthree lines"), std::nullopt,
                                  {sample::cut(97, 100, 110)}, std::nullopt});
        model.setProject(waiting);
        {
            SidebarView odd(model);
            odd.setFixedSize(280, 1100);
            odd.setTab(1);
            odd.show();
            save(&odd, QStringLiteral("sidebar-280-odd-texts"));
        }
        model.setProject(project);
        model.activate(sample::id(201));
        model.setSelection(QStringLiteral("02"));
        settle();
    }
    side->setTab(1);
    // The player here has no picture to report a time from: place the playhead in the Short.
    model.clock().setTime(12.4);
    save(&window, QStringLiteral("workspace-shorts"));
    // An export's toast on a desktop where no file manager could show the file.
    model.setToast(QStringLiteral("Exported Friday nig Bob returns.mp4. No file manager could show it."));
    save(&window, QStringLiteral("workspace-toast-export"));
    // A recording whose data stops early, said as the viewer keeps its last picture.
    model.setToast(QStringLiteral("Friday night.mp4 ends early: it holds pictures up to 1:12:40 only."));
    save(&window, QStringLiteral("workspace-toast-ends-early"));
    model.setToast(std::nullopt);
    // The toolbar while work runs: the spinner in the Activity button's place.
    ThumbsProbe::working(model, true);
    settle();
    save(space->toolbar(), QStringLiteral("toolbar-working"));
    ThumbsProbe::working(model, false);

    // The menus and dialogs.
    side->setTab(0);
    settle();
    for (SegmentRow* row : side->segmentRows()) {
        const QString id = row->look().segment.id;
        if (id == u"01" || id == u"04" || id == u"05a")
            saveMenu(row->makeMenu(), QStringLiteral("menu-segmentrow-") + id);
    }
    saveMenu(side->filterMenu(), QStringLiteral("menu-filter"));
    side->setTab(1);
    settle();
    saveMenu(side->aiMenu(), QStringLiteral("menu-ai"));
    for (ShortRow* row : side->shortRows()) {
        if (row->look().item.id == sample::id(201)) {
            saveMenu(row->makeMenu(), QStringLiteral("menu-shortrow-edited"));
            row->startRename();
            save(row->renameDialog(), QStringLiteral("rename"));
            row->renameDialog()->reject();
            row->startRevert();
            save(row->revertDialog(), QStringLiteral("revert"));
            row->revertDialog()->reject();
        }
        if (row->look().item.id == sample::id(202))
            saveMenu(row->makeMenu(), QStringLiteral("menu-shortrow"));
    }
    side->lookForIdeas();
    save(side->lookAgainDialog(), QStringLiteral("look-again"));
    side->lookAgainDialog()->reject();
    model.setMode(Mode::segment);
    model.setSelection(QStringLiteral("02"));
    model.seek(900);
    model.setSplitting(true);
    save(space->splitDialog(), QStringLiteral("split"));
    space->splitDialog()->reject();

    tools(model, &window);

    // An empty project.
    Project empty = AppModel::emptyProject();
    empty.video = recording;
    empty.duration = 4;
    model.setProject(empty);
    side->setTab(0);
    save(&window, QStringLiteral("workspace-empty-segments"));
    side->setTab(1);
    save(&window, QStringLiteral("workspace-empty-shorts"));
}

} // namespace

namespace Shots {

// A stream's worth of the editor: three segments with transcripts, peaks and markers,
// and a Short of three cuts, one of them where nothing was said.
Project editorProject()
{
    Project p;
    p.video = QStringLiteral("/streams/Friday night.mp4");
    p.duration = 7200;
    const char* said[] = {"okay okay we're going in, stay close to me",
                          "no wait, there's someone on the roof",
                          "I told you, I told you he was there the whole time!",
                          "alright that's one down, where's the other",
                          "chat is saying left, everyone is saying left",
                          "he's reloading, push now, push push push",
                          "let's go, that was the cleanest thing I've ever done on this stream",
                          "okay we need to heal up before the zone closes",
                          "how many do we have left, two? three?",
                          "I'm not going back in there"};
    const double starts[] = {3612, 3840, 4410};
    for (int s = 0; s < 3; ++s) {
        Segment seg;
        seg.id = QString::asprintf("%02d", s + 4);
        seg.start = starts[s];
        seg.end = seg.start + 210;
        seg.markers = {seg.start + 150};
        if (s == 0)
            seg.markers.push_back(seg.start + 60);
        std::vector<Line> lines;
        for (int l = 0; l < 40; ++l) {
            const double t = seg.start + 4 + l * 5.1;
            lines.push_back({t, t + 4.6, QString::fromUtf8(said[l % 10])});
        }
        seg.lines = lines;
        QByteArray peaks(210 * 20, 0);
        for (int i = 0; i < peaks.size(); ++i) {
            const double v = std::fabs(std::sin(i / 17.0) * std::sin(i / 91.0 + s)) * 230 + 12;
            peaks[i] = char(int(v) & 0xff);
        }
        seg.peaks = peaks;
        seg.title = s == 0 ? QStringLiteral("The rooftop ambush") : QString();
        seg.summary = s == 0 ? QStringLiteral("A squad waits on a roof; the streamer calls it out, gets ignored, "
                                              "and then wins the fight alone while chat shouts directions.")
                             : QString();
        seg.energy = s == 0 ? QStringLiteral("hype") : QString();
        seg.kind = s == 0 ? QStringLiteral("clutch") : QString();
        seg.unsure = s == 0 ? QStringLiteral("whether \"the roof\" is the same building both times.") : QString();
        if (s == 0) {
            seg.keyLine = 6;
            seg.rating = 1;
        }
        p.segments.push_back(seg);
    }
    Short clip;
    clip.id = QUuid::createUuid();
    clip.title = QStringLiteral("He was on the roof the whole time");
    const auto cut = [](double a, double b) {
        Cut c;
        c.id = QUuid::createUuid();
        c.start = a;
        c.end = b;
        return c;
    };
    // Two cuts with speech, one between two lines, one where no segment lies.
    clip.cuts = {cut(3621, 3631.2), cut(3646.1, 3656.3), cut(3620.62, 3621.08), cut(3000, 3004)};
    p.shorts.push_back(clip);
    return p;
}

QImage frame()
{
    QImage image(1280, 720, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, 720);
    sky.setColorAt(0, QColor(0x2a, 0x4d, 0x7a));
    sky.setColorAt(0.6, QColor(0xc9, 0x7b, 0x4a));
    sky.setColorAt(1, QColor(0x3b, 0x2a, 0x22));
    p.fillRect(image.rect(), sky);
    p.fillRect(QRect(180, 380, 260, 340), QColor(0x22, 0x22, 0x2a));
    p.fillRect(QRect(520, 300, 200, 420), QColor(0x1b, 0x1b, 0x22));
    p.fillRect(QRect(800, 420, 320, 300), QColor(0x26, 0x24, 0x2c));
    return image;
}

} // namespace Shots

namespace {

void editorShots()
{
    auto owned = std::make_unique<FakePlayer>();
    FakePlayer& player = *owned;
    AppModel model(std::move(owned), std::make_unique<FakePlayer>());
    Project p = editorProject();
    const QUuid shortId = p.shorts[0].id;
    model.setProject(p);
    model.activate(shortId);
    model.setMode(Mode::segment);
    model.setSelection(QStringLiteral("04"));
    model.selectLine(3, false);
    model.selectLine(4, true);
    model.clock().setTime(3612 + 36.5);
    {
        ViewerView viewer(model);
        viewer.resize(720, 500);
        viewer.picture->showImage(frame());
        viewer.show();
        settle();
        save(&viewer, QStringLiteral("viewer-segment"));
        // A seek far from a key frame on its way: the viewer says what it waits for.
        player.setWaiting(QStringLiteral("Finding the picture…"));
        viewer.picture->showImage(frame());
        settle();
        save(&viewer, QStringLiteral("viewer-finding"));
        player.setWaiting(std::nullopt);
        model.setMode(Mode::shortClip);
        model.clock().setTime(12.4);
        settle();
        save(&viewer, QStringLiteral("viewer-short"));
        model.setMode(Mode::segment);
        model.setSelection(std::nullopt);
        settle();
        save(&viewer, QStringLiteral("viewer-nothing"));
        model.setSelection(QStringLiteral("04"));
    }
    model.clock().setTime(3612 + 36.5);
    {
        InspectorView inspector(model);
        inspector.resize(400, 680);
        inspector.show();
        settle();
        save(&inspector, QStringLiteral("inspector-segment"));
        inspector.segment->transcript->startCorrection(5);
        settle();
        save(&inspector, QStringLiteral("inspector-correcting"));
        inspector.segment->transcript->discard();
        Project waiting = model.project();
        waiting.segments[1].lines.reset();
        waiting.segments[2].lines.reset();
        waiting.segments[2].error = QStringLiteral("whisper-cli stopped: the model file could not be read.");
        model.setProject(waiting);
        model.clearRange();
        model.setSelection(QStringLiteral("05"));
        settle();
        save(&inspector, QStringLiteral("inspector-waiting"));
        model.setSelection(QStringLiteral("06"));
        settle();
        save(&inspector, QStringLiteral("inspector-failed"));
        model.setProject(p);
        model.setMode(Mode::shortClip);
        model.clock().setTime(12.4);
        settle();
        save(&inspector, QStringLiteral("inspector-short"));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    qputenv("VANTOREL_FEED_URL", "http://127.0.0.1:9/latest.json");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(out);
    Style::useFixedFont();
    const bool light = argc > 2 && QByteArray(argv[2]) == "light";
    Style::apply(app, light ? Style::Scheme::light : Style::Scheme::dark);
    const Root::Options quiet{std::chrono::milliseconds(60000), false};

    {
        SetupList::standard() = ready;
        AppModel model;
        MainWindow window(model, {}, quiet);
        window.show();
        save(&window, QStringLiteral("start-empty"));
        auto* menus = window.menus();
        for (const QString& title : {QStringLiteral("File"), QStringLiteral("Edit"), QStringLiteral("Stream"),
                                     QStringLiteral("Segment"), QStringLiteral("Short"), QStringLiteral("Help")})
            saveMenu(menus->menu(title), QStringLiteral("menu-") + title.toLower());
        model.setToast(QStringLiteral("Saved Friday night.vtrl"));
        save(&window, QStringLiteral("start-toast"));
        model.setToast(QStringLiteral("Version 1.4 is available. See Settings \u25B8 Updates. The release notes say more "
                                      "about what changed since the version you have."));
        save(&window, QStringLiteral("start-toast-long"));
        model.setToast(std::nullopt);
        model.setProblem(QStringLiteral("Friday night.vtrl could not be read as a Vantorel project."));
        settle();
        save(window.root()->alert(), QStringLiteral("alert"));
        model.setProblem(std::nullopt);
    }
    {
        // Recents: some in the home folder, one far down, one outside it.
        QStringList recents;
        for (const QString& path :
             {home.path() + QStringLiteral("/Videos/Streams/2024/March/Friday night.vtrl"),
              home.path() + QStringLiteral("/Videos/Streams/Speedrun practice with a very long name that goes on.vtrl"),
              home.path() + QStringLiteral("/Birthday stream.vtrl"),
              QStringLiteral("/tmp/vantorel-shot/Footage/Stream.vtrl")}) {
            QDir().mkpath(path);
            recents << path;
        }
        // The last one has its recording, whose picture the row shows.
        {
            const QString recording = Clips::video(QStringLiteral("/tmp/vantorel-shot/Footage/Stream.mp4"), 4);
            Project project = sample::sampleProject(recording);
            project.segments.resize(1);
            project.segments[0].start = 1;
            project.segments[0].end = 3;
            project.segments[0].markers = {2};
            project.save(recents.back());
        }
        Prefs::shared().set(QStringLiteral("recents"), recents);
        SetupList::standard() = missing;
        AppModel model;
        MainWindow window(model, {}, quiet);
        window.show();
        save(&window, QStringLiteral("start-recents-missing"));
        SetupList::standard() = ready;
        AppModel other;
        MainWindow second(other, {}, quiet);
        second.show();
        settle(1500); // (its still comes from a worker thread)
        save(&second, QStringLiteral("start-recents"));
        QDir(QStringLiteral("/tmp/vantorel-shot")).removeRecursively();
    }
    {
        SetupList::standard() = missing;
        Settings settings;
        settings.show();
        save(&settings, QStringLiteral("settings"));
        // The whole of it beside a 1366×768 screen: on the left every section at once,
        // on the right the window as it opens there (the sections scroll).
        QWidget* content = settings.sections()->widget();
        const QImage all = content->grab().toImage();
        const int screenH = 768, panel = 32, titleBar = 30;
        settings.setMaximumHeight(Settings::fittedHeight(all.height(), screenH - panel));
        settings.resize(settings.width(), Settings::fittedHeight(all.height(), screenH - panel));
        settle();
        const QImage fitted = settings.grab().toImage();
        QImage board(all.width() + fitted.width() + 60, std::max(all.height() + panel + titleBar, screenH) + 40, QImage::Format_RGB32);
        board.fill(QColor(0x30, 0x30, 0x34));
        QPainter p(&board);
        p.drawImage(20, 20 + panel + titleBar, all);
        p.drawImage(all.width() + 40, 20 + panel + titleBar, fitted);
        p.setPen(QPen(Style::red(), 2, Qt::DashLine));
        p.drawLine(0, 20 + screenH, board.width(), 20 + screenH);
        p.drawLine(0, 20 + panel, board.width(), 20 + panel);
        p.setPen(Style::red());
        // The labels sit in the gap between the two, clear of both.
        p.save();
        p.translate(all.width() + 34, 20 + screenH - 6);
        p.rotate(-90);
        p.drawText(QPoint(0, 0), QStringLiteral("bottom of a 768-pixel screen"));
        p.restore();
        p.drawText(QPoint(24, 16 + panel), QStringLiteral("desktop panel"));
        p.end();
        const QString path = out + QStringLiteral("/settings-768.png");
        board.save(path);
        std::printf("%s\n", qPrintable(path));
    }
    setupSheet(home.path() + QStringLiteral("/Streams"), quiet);
    workspace(home.path() + QStringLiteral("/Work"), quiet);
    editorShots();
    for (const auto& shots : more())
        shots();
    Windows::reset();
    return 0;
}
