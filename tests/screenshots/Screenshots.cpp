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
#include "views/start/SetupList.h"
#include "views/start/SetupSheet.h"
#include "views/start/StartView.h"
#include "views/workspace/Sidebar.h"
#include "views/workspace/Workspace.h"
#include "support/Clips.h"
#include "support/gui/SampleProject.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoro/QCoroTask>
#include <QFile>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <clocale>
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

namespace {

QString out;

// Lets queued work, deferred deletes and the fades run out.
void settle(int ms = 300)
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
    auto* space = qobject_cast<Workspace*>(window.root()->face());
    if (!space)
        return;
    Sidebar* side = space->sidebar();
    ThumbsProbe::set(model, stills(project));
    model.activate(sample::id(201));
    model.setSelection(QStringLiteral("02"));
    save(&window, QStringLiteral("workspace-segments"));
    side->setTab(1);
    save(&window, QStringLiteral("workspace-shorts"));
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
    MainWindow::defineWindows();
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
        save(&second, QStringLiteral("start-recents"));
        QDir(QStringLiteral("/tmp/vantorel-shot")).removeRecursively();
    }
    {
        SetupList::standard() = missing;
        Settings settings;
        settings.show();
        save(&settings, QStringLiteral("settings"));
    }
    setupSheet(home.path() + QStringLiteral("/Streams"), quiet);
    workspace(home.path() + QStringLiteral("/Work"), quiet);
    Windows::reset();
    return 0;
}
