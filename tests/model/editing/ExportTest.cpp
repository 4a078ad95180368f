// Real exports of generated clips through ffmpeg.

#include "core/project/Subtitles.h"
#include "model/editing/ShortTesting.h"
#include "support/Await.h"

using namespace shorts;

namespace {

class ExportTest : public ShortTest {
protected:
    QStringList revealed;
    void SetUp() override
    {
        ShortTest::SetUp();
        model->revealFile = [this](const QString& path) { revealed << path; };
    }
    static QStringList leftovers(const QString& folder)
    {
        return QDir(folder).entryList({".vt-*"}, QDir::Files | QDir::Hidden);
    }
};

TEST_F(ExportTest, CutsAreRenderedBackToBackFromTheirPlaceInTheRecording)
{
    std::vector<Segment> segments{segment("01", 0, 6)};
    segments[0].lines = std::vector<Line>{{1.2, 1.8, "one"}, {2.1, 2.4, "two [laughs]"}};
    openWith(countedClip(), {shortOf("Clip", {cut(2.0, 2.5), cut(1.0, 2.0)})}, segments);
    const QString mp4 = root + "/out/clip.mp4";
    QDir().mkpath(root + "/out");
    writeFile(mp4, "an older export");
    std::vector<double> progress;
    QObject::connect(model.get(), &AppModel::exportProgressChanged, [&] {
        if (model->exportProgress())
            progress.push_back(*model->exportProgress());
    });

    await(model->exportShort(mp4, true, true));

    EXPECT_EQ(model->problem(), std::nullopt);
    EXPECT_EQ(model->toast(), "Exported clip.mp4");
    EXPECT_EQ(revealed, QStringList{mp4});
    EXPECT_EQ(model->exportProgress(), std::nullopt);
    EXPECT_EQ(model->exportLabel(), "");
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 1.0);
    ASSERT_EQ(model->jobs().size(), 1u);
    const Job& job = model->jobs()[0];
    EXPECT_EQ(QStringList({job.kind, job.title, job.detail, job.state}).join('|'), "export|Export Clip|clip.mp4|done");

    const MediaInfo out = Media::probeNow(mp4);
    EXPECT_NEAR(out.duration, 1.5, 0.1);
    EXPECT_TRUE(out.audioStream.has_value());
    EXPECT_EQ(out.naturalSize, QSize(160, 96));
    EXPECT_EQ(frameIndex(Media::stillNow(mp4, 0, {160, 96})), 20);
    EXPECT_EQ(frameIndex(Media::stillNow(mp4, 0.5, {160, 96})), 10);
    EXPECT_EQ(frameIndex(Media::stillNow(mp4, 1.4, {160, 96})), 19);
    EXPECT_EQ(QString::fromUtf8(readFile(root + "/out/clip.srt")),
              Subtitles::srt(model->project().shorts[0], model->project()));
    EXPECT_TRUE(leftovers(root + "/out").isEmpty());
}

TEST_F(ExportTest, SilentAndTurnedRecordingsKeepTheirNature)
{
    std::vector<Segment> segments{segment("01", 0, 6)};
    segments[0].lines = std::vector<Line>{{2.1, 2.4, "late"}};
    // Held inside the recording, and the subtitles with it.
    openWith(silentClip(), {shortOf("Quiet", {cut(-0.5, 1), cut(2, 2.5)})}, segments);
    await(model->exportShort(root + "/quiet.mp4", true, false));
    const MediaInfo quiet = Media::probeNow(root + "/quiet.mp4");
    EXPECT_EQ(quiet.audioStream, std::nullopt);
    EXPECT_NEAR(quiet.duration, 1.5, 0.1);
    EXPECT_EQ(readFile(root + "/quiet.srt"), "1\n00:00:01,100 --> 00:00:01,400\nlate\n\n");
    EXPECT_TRUE(revealed.isEmpty());

    openWith(uprightClip(), {shortOf("Tall", {cut(1, 2)})});
    await(model->exportShort(root + "/tall.mp4", false, false));
    EXPECT_FALSE(QFile::exists(root + "/tall.srt"));
    const MediaInfo tall = Media::probeNow(root + "/tall.mp4");
    const auto [w, h] = tall.transform.apply(tall.naturalSize.width(), tall.naturalSize.height());
    EXPECT_EQ(std::fabs(w), 180);
    EXPECT_EQ(std::fabs(h), 320);
}

TEST_F(ExportTest, FailuresAndCancelsLeaveTheOldFile)
{
    openWith(plainClip(), {shortOf("Gone", {cut(1, 5)})});
    const QString mp4 = root + "/keep.mp4";
    writeFile(mp4, "an older export");

    // A cancel stops ffmpeg; a second export meanwhile does nothing at all.
    const Cancel cancel = Cancel::make();
    auto running = model->exportShort(mp4, true, false, cancel);
    EXPECT_EQ(model->exportLabel(), "Exporting Gone");
    const int pauses = player().calls.count("pause");
    auto refused = model->exportShort(root + "/other.mp4", false, false);
    await(std::move(refused));
    EXPECT_EQ(player().calls.count("pause"), pauses);
    cancel.cancel();
    await(std::move(running));
    EXPECT_EQ(model->jobs()[0].state, "cancelled");
    EXPECT_EQ(model->problem(), "The Short could not be exported. The export was cancelled.");
    EXPECT_EQ(model->exportProgress(), std::nullopt);

    // ffmpeg failing: the recording went away.
    QFile::remove(root + "/Stream.mp4");
    await(model->exportShort(mp4, true, false));
    EXPECT_EQ(model->jobs()[0].state, "failed");
    EXPECT_TRUE(model->problem()->startsWith("The Short could not be exported. ffmpeg stopped with an error. "))
        << model->problem()->toStdString();

    EXPECT_EQ(readFile(mp4), "an older export");
    EXPECT_FALSE(QFile::exists(root + "/keep.srt"));
    EXPECT_TRUE(leftovers(root).isEmpty());
    EXPECT_EQ(model->toast(), std::nullopt);
}

TEST_F(ExportTest, ExportAllNamesEveryFileOnceAndCountsWhatWasWritten)
{
    openWith(plainClip(), {shortOf("Boss: part 2/3", {cut(1, 2)}), shortOf("Empty", {}),
                           shortOf("Boss: part 2/3", {cut(3, 4)}), shortOf("Late", {cut(7, 9)}),
                           shortOf(QString::fromUtf8("Two\nlines\0x", 11), {cut(0, 0.5)})});
    const QString folder = root + "/all";
    QDir().mkpath(folder);
    await(model->exportAll(folder, true));

    QStringList files = QDir(folder).entryList(QDir::Files);
    files.sort();
    EXPECT_EQ(files, (QStringList{"Stream.vtr Boss part 2-3 2.mp4", "Stream.vtr Boss part 2-3 2.srt",
                                  "Stream.vtr Boss part 2-3.mp4", "Stream.vtr Boss part 2-3.srt",
                                  "Stream.vtr Two lines x.mp4", "Stream.vtr Two lines x.srt"}));
    EXPECT_EQ(model->toast(), "Exported 3 Shorts");
    EXPECT_EQ(revealed, QStringList{folder});
    EXPECT_EQ(model->problem(), "Late could not be exported. It has no cuts."); // it lies past the recording's end
    ASSERT_EQ(model->jobs().size(), 4u);
    EXPECT_EQ(model->jobs()[3].detail, "Stream.vtr Boss part 2-3.mp4");
    EXPECT_EQ(model->exportProgress(), std::nullopt);
    EXPECT_EQ(model->exportLabel(), "");
}

TEST_F(ExportTest, AnExportKeepsToTheRecordingAndWordsItStartedWith)
{
    // The counted clip says "alpha"; the project opened meanwhile is another clip saying "bravo"
    // at the same times.
    std::vector<Segment> mine{segment("01", 0, 6)};
    mine[0].lines = std::vector<Line>{{1.2, 1.8, "alpha"}};
    std::vector<Segment> theirs{segment("01", 0, 6)};
    theirs[0].lines = std::vector<Line>{{1.2, 1.8, "bravo"}};
    const QString alpha = "1\n00:00:00,200 --> 00:00:00,800\nalpha\n\n";

    // One Short: finished from what it took.
    openWith(countedClip(), {shortOf("One", {cut(1, 2)})}, mine);
    auto one = model->exportShort(root + "/one.mp4", true, false);
    openPackage(*model, "Other", plainClip(), theirs);
    await(std::move(one));
    EXPECT_EQ(model->problem(), std::nullopt);
    EXPECT_EQ(QString::fromUtf8(readFile(root + "/one.srt")), alpha);
    EXPECT_EQ(frameIndex(Media::stillNow(root + "/one.mp4", 0.5, {160, 96})), 15);

    // All Shorts: the one under way is finished, and no other is begun for the project
    // that is no longer open.
    openWith(countedClip(), {shortOf("First", {cut(1, 2)}), shortOf("Second", {cut(3, 4)}), shortOf("Third", {cut(4, 5)})},
             mine);
    const QString folder = root + "/all";
    QDir().mkpath(folder);
    auto all = model->exportAll(folder, true);
    openPackage(*model, "Later", plainClip(), theirs);
    await(std::move(all));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"Stream.vtr First.mp4", "Stream.vtr First.srt"}));
    EXPECT_EQ(QString::fromUtf8(readFile(folder + "/Stream.vtr First.srt")), alpha);
    EXPECT_EQ(frameIndex(Media::stillNow(folder + "/Stream.vtr First.mp4", 0.5, {160, 96})), 15);
    EXPECT_EQ(model->toast(), "Exported 1 Short");
    EXPECT_EQ(model->exportProgress(), std::nullopt);
    for (const Job& job : model->jobs())
        EXPECT_NE(job.kind, "export") << "the other project's activity holds none of it";
}

} // namespace
