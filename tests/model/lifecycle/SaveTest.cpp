// Saving, working on in a copy, emptying the caches, and the segment thumbnails.

#include "model/lifecycle/LifecycleTesting.h"
#include "support/Await.h"

#include <QImage>

using namespace lifecycle;

struct ThumbsProbe {
    static void loadThumbs(AppModel& model) { model.loadThumbs(); }
};

namespace {

class SaveTest : public LifecycleTest {
protected:
    // Makes project.json impossible to replace (even for root): a folder stands there.
    static void blockDocument(const QString& package)
    {
        QFile::remove(package + "/project.json");
        writeFile(package + "/project.json/inside", "x");
    }
};

const QSize box(320, 180);

} // namespace

TEST_F(SaveTest, NothingOpenDoesNothing)
{
    auto model = makeModel();
    int asked = 0;
    model->panels.savePackage = [&](QString, QString) {
        ++asked;
        return answer(root + "/Copy.vtrl");
    };
    model->save();
    model->saveNow();
    await(model->duplicate());
    model->purgeCache();
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(model->toast(), std::nullopt);
    EXPECT_EQ(model->problem(), std::nullopt);
    EXPECT_TRUE(QDir(root).isEmpty());
}

TEST_F(SaveTest, SaveNowWritesAndSaysSo)
{
    auto model = makeModel();
    const QString package = openPackage(*model, "Stream");
    Project changed = model->project();
    changed.note = "after the break";
    model->setProject(changed);

    model->saveNow();
    EXPECT_EQ(model->toast(), QStringLiteral("Saved Stream.vtrl"));
    EXPECT_EQ(Project::load(package).note, "after the break");
}

TEST_F(SaveTest, NoNoticeWhileAProblemIsShown)
{
    auto model = makeModel();
    const QString package = openPackage(*model, "Stream");
    model->setProblem(QStringLiteral("an older problem"));
    Project changed = model->project();
    changed.note = "still saved";
    model->setProject(changed);

    model->saveNow();
    EXPECT_EQ(model->toast(), std::nullopt);
    EXPECT_EQ(model->problem(), QStringLiteral("an older problem"));
    EXPECT_EQ(Project::load(package).note, "still saved");
}

TEST_F(SaveTest, AFailedSaveNamesThePackage)
{
    auto model = makeModel();
    const QString package = openPackage(*model, "Stream");
    blockDocument(package);
    const Project before = model->project();

    model->saveNow();
    ASSERT_TRUE(model->problem());
    EXPECT_TRUE(model->problem()->startsWith("Your work could not be saved to Stream.vtrl. The project could not"))
        << model->problem()->toStdString();
    EXPECT_EQ(model->toast(), std::nullopt);
    EXPECT_EQ(model->project(), before);
    EXPECT_EQ(model->file(), package) << "the project stays open";
}

// Another program (one that takes no lock, or a process on another computer) wrote the
// document while it was open here: this model's save would lose that, and is refused. Its
// own saves, also of an older single-file package, are never taken for another's; a
// document that is gone holds nothing to lose.
TEST_F(SaveTest, ADocumentThatAnotherProgramWroteIsNotSavedOver)
{
    auto model = makeModel();
    const QString package = openPackage(*model, "Stream");
    Project theirs = Project::load(package);
    theirs.note = "written elsewhere";
    theirs.save(package);
    model->rate("01", 1);
    EXPECT_EQ(model->problem(), "Your work could not be saved to Stream.vtrl. Another program changed it after it was "
                                "opened here. Open it again to see that change, or choose Duplicate… in the File menu "
                                "to keep this work in a copy.");
    EXPECT_EQ(Project::load(package), theirs);

    model->setProblem(std::nullopt);
    const QString single = root + "/Single.vtrl";
    ASSERT_TRUE(QFile::copy(package + "/project.json", single));
    QCoro::waitFor(model->openProject(single));
    QFile::remove(single + "/project.json");
    for (int rating : {1, -1})
        model->rate("01", rating);
    EXPECT_EQ(model->problem(), std::nullopt);
    EXPECT_EQ(Project::load(single), model->project());
}

// A marker file's own byte-order mark is no part of its text (a text field's leading
// U+FEFF is kept: the JSON tests read every field back).
TEST_F(SaveTest, AMarkerFilesByteOrderMarkIsNoPartOfItsText)
{
    writeFile(root + "/markers.csv", "\xEF\xBB\xBF" "0:10\n1:00\n");
    QString text;
    EXPECT_EQ(AppModel::readMarks(root + "/markers.csv", &text), std::vector<double>({10, 60}));
    EXPECT_EQ(text, "0:10\n1:00\n");
}

TEST_F(SaveTest, DuplicateGoesOnInTheCopy)
{
    auto model = makeModel();
    const QString package = openPackage(*model, "Stream");
    writeFile(package + "/activity.jsonl", line(job(1, "done", 100, 110)));
    writeFile(package + "/cache/waves/0.bin", "peaks");
    QString folder, proposed;
    model->panels.savePackage = [&](QString f, QString p) {
        folder = f;
        proposed = p;
        return answer(root + "/Stream copy.vtrl");
    };

    await(model->duplicate());
    EXPECT_EQ(folder, root);
    EXPECT_EQ(proposed, "Stream copy.vtrl");
    const QString copied = root + "/Stream copy.vtrl";
    EXPECT_EQ(model->file(), copied);
    EXPECT_EQ(model->problem(), std::nullopt);
    EXPECT_EQ(Project::load(copied), model->project());
    EXPECT_FALSE(QFileInfo::exists(copied + "/activity.jsonl")) << "only the document is copied";
    EXPECT_FALSE(QFileInfo::exists(copied + "/cache"));
    EXPECT_EQ(model->recents(), (QStringList{copied, package}));
    EXPECT_EQ(Prefs::shared().value("recents").toStringList(), (QStringList{copied, package}));
    EXPECT_EQ(model->toast(), QStringLiteral("Now working in Stream copy.vtrl"));

    // Another recording's project is never written over, even when the name is picked.
    const QString other = writePackage(root + "/Other.vtrl", projectOf(root + "/Other.mp4"));
    const QByteArray untouched = readFile(other + "/project.json");
    model->setToast(std::nullopt);
    model->panels.savePackage = [&](QString, QString) { return answer(other); };
    await(model->duplicate());
    EXPECT_EQ(model->problem(), "Other.vtrl holds the project of another recording. Choose another name.");
    EXPECT_EQ(readFile(other + "/project.json"), untouched);
    EXPECT_EQ(model->file(), copied);
    model->setProblem(std::nullopt);

    // A cancelled panel changes nothing.
    model->setToast(std::nullopt);
    model->panels.savePackage = [](QString, QString) { return answer(std::nullopt); };
    await(model->duplicate());
    EXPECT_EQ(model->file(), copied);
    EXPECT_EQ(model->toast(), std::nullopt);
}

TEST_F(SaveTest, ADuplicateAnsweredAfterTheWorkMovedOnWritesNothing)
{
    auto model = makeModel();
    const QString package = openPackage(*model, "Stream");
    const QString copied = root + "/Stream copy.vtrl";
    model->panels.savePackage = [&](QString, QString) { return answer(copied, 100); };

    // Closed while the user was choosing the name.
    auto duplicating = model->duplicate();
    model->close();
    await(std::move(duplicating));
    EXPECT_EQ(model->file(), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(copied)) << "no empty project was written";

    // Another project opened meanwhile.
    openPackage(*model, "Stream");
    duplicating = model->duplicate();
    const QString other = openPackage(*model, "Other");
    await(std::move(duplicating));
    EXPECT_EQ(model->file(), other);
    EXPECT_FALSE(QFileInfo::exists(copied));
    EXPECT_EQ(model->recents(), (QStringList{other, package}));
    EXPECT_EQ(model->toast(), std::nullopt);
}

TEST_F(SaveTest, ACopyThatCannotBeWrittenLeavesTheWorkWhereItWas)
{
    auto model = makeModel();
    const QString package = openPackage(*model, "Stream");
    writeFile(root + "/blocker", "a file, not a folder");
    model->panels.savePackage = [&](QString, QString) { return answer(root + "/blocker/Stream copy.vtrl"); };

    await(model->duplicate());
    ASSERT_TRUE(model->problem());
    EXPECT_TRUE(model->problem()->startsWith("Your work could not be saved to Stream copy.vtrl. "))
        << model->problem()->toStdString();
    EXPECT_EQ(model->file(), package);
    EXPECT_EQ(model->recents(), QStringList{package});
    EXPECT_EQ(Prefs::shared().value("recents").toStringList(), QStringList{package});
    EXPECT_EQ(model->toast(), std::nullopt);

    // Later saves still go to the package the work is in.
    model->setProblem(std::nullopt);
    model->saveNow();
    EXPECT_EQ(model->toast(), QStringLiteral("Saved Stream.vtrl"));
}

TEST_F(SaveTest, PurgeCacheCountsWhatItFrees)
{
    auto model = makeModel();
    const QString package = openPackage(*model, "Stream");
    writeFile(package + "/cache/frames/3.jpg", QByteArray(1000, 'f'));
    writeFile(package + "/cache/waves/0.bin", QByteArray(400, 'w'));
    writeFile(package + "/cache/.hidden/note", QByteArray(100, 'h'));

    model->purgeCache();
    EXPECT_EQ(model->toast(), QStringLiteral("Freed 1.5 kB"));
    EXPECT_FALSE(QFileInfo::exists(package + "/cache"));
    EXPECT_TRUE(QFileInfo::exists(package + "/project.json"));
    EXPECT_TRUE(model->frames().images().isEmpty());
    EXPECT_TRUE(model->waves().peaks().isEmpty());

    model->purgeCache(); // nothing left to free
    EXPECT_EQ(model->toast(), QStringLiteral("Freed 0 bytes"));
}

// Stills and waveforms cached before this build read a joined recording piece by piece lie at
// other times after its join: they go, once; a recording read as one file keeps its cache.
TEST_F(SaveTest, ACacheReadAnotherWayGoes)
{
    const QString joined = sharedClip(QStringLiteral("joined.ts"), [](const QString& p) {
        return Clips::ffmpeg({"-t", "3", "-i", plainClip(), "-c", "copy", p + ".1.ts"})
                       && Clips::ffmpeg({"-ss", "3", "-i", plainClip(), "-c", "copy", p + ".2.ts"})
                       && writeFile(p, readFile(p + ".1.ts") + readFile(p + ".2.ts"))
                   ? p
                   : QString();
    });
    const struct {
        const char* name;
        QString clip;
        bool again; // opened a second time
        bool kept;
    } table[] = {
        {"a recording read whole", plainClip(), false, true},
        {"a joined recording cached before", joined, false, false},
        {"a joined recording cached since", joined, true, true},
    };
    auto model = makeModel();
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        const QString package = root + "/" + row.name + ".vtrl";
        const auto cacheSome = [&] {
            writeFile(package + "/cache/frames/3.jpg", "f");
            writeFile(package + "/cache/waves/0.bin", "w");
        };
        cacheSome();
        openPackage(*model, row.name, row.clip);
        if (row.again) {
            model->close();
            cacheSome();
            await(model->openProject(package));
        }
        ASSERT_EQ(model->file(), package);
        EXPECT_EQ(QFileInfo::exists(package + "/cache/frames/3.jpg"), row.kept);
        EXPECT_EQ(QFileInfo::exists(package + "/cache/waves/0.bin"), row.kept);
        model->close();
    }
}

// ---- thumbnails ----

TEST_F(SaveTest, ThumbnailsTakeOneStillPerSegmentFromJustBeforeItsFirstMarker)
{
    auto model = makeModel();
    const QString clip = largeClip();
    Segment manual = segment("02a", 4, 5);
    manual.manual = true;
    openPackage(*model, "Stream", clip, {segment("01", 0, 2.5, {1, 2}), segment("02", 3, 5.5, {4.5}), manual});
    const QString recording = root + "/Stream.mp4";

    ASSERT_TRUE(waitUntil([&] { return model->thumbs().size() == 3; }));
    for (const QImage& image : model->thumbs())
        EXPECT_EQ(image.size(), QSize(240, 180)) << "4:3 kept inside the 320x180 box";
    EXPECT_EQ(model->thumbs().value("01"), Media::stillNow(recording, 0, box)) << "1 s - 2 s is taken as 0";
    EXPECT_NE(model->thumbs().value("01"), Media::stillNow(recording, 1, box));
    EXPECT_EQ(model->thumbs().value("02"), Media::stillNow(recording, 2.5, box));
    EXPECT_EQ(model->thumbs().value("02a"), Media::stillNow(recording, 4, box)) << "no markers: its start";
}

TEST_F(SaveTest, OverlappingThumbnailRunsGiveEachSegmentOneStill)
{
    auto model = makeModel();
    int stored = 0;
    QObject::connect(model.get(), &AppModel::thumbsChanged, [&] { ++stored; });
    openPackage(*model, "Stream", largeClip(),
                {segment("01", 0, 3, {2.5}), segment("02", 1, 4, {3}), segment("03", 2, 5, {4}),
                 segment("04", 3, 6, {5})});
    // A second run while the first is under way (as after an added segment), whose times
    // differ: a segment's still, once made, is never made again or replaced.
    Project moved = model->project();
    for (Segment& s : moved.segments)
        s.markers = {s.markers.front() + 1};
    model->setProject(moved);
    ThumbsProbe::loadThumbs(*model);

    ASSERT_TRUE(waitUntil([&] { return model->thumbs().size() == 4; }));
    settle(1500);
    EXPECT_EQ(stored, 4);
}

TEST_F(SaveTest, ThumbnailStillsOfAnEarlierRecordingAreDropped)
{
    auto model = makeModel();
    // The upright recording's stills are 101x180; the next one's are 320x180.
    openPackage(*model, "Upright", uprightClip(),
                {segment("01", 0, 1, {0.5}), segment("02", 1, 2, {1.5}), segment("03", 2, 3, {2.5}),
                 segment("04", 3, 4, {3.5})});
    openPackage(*model, "Plain", plainClip(), {segment("01", 0, 2, {1})});

    ASSERT_TRUE(waitUntil([&] { return model->thumbs().contains("01"); }));
    settle(1500); // time enough for the first task to have made all it would
    EXPECT_EQ(model->thumbs().keys(), QStringList{"01"});
    EXPECT_EQ(model->thumbs().value("01").size(), box);

    // Closed while its stills are being made: none arrive.
    openPackage(*model, "Upright", uprightClip());
    model->close();
    settle(1000);
    EXPECT_TRUE(model->thumbs().isEmpty());
}
