#include "core/project/Fail.h"
#include "core/services/Audio.h"
#include "support/Clips.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

#include "support/Env.h"

namespace {

using Env = ScopedEnv;

// The WAV's path, or the failure's sentence.
QCoro::Task<std::pair<QString, QString>> extract(QString video, double start, double duration)
{
    try {
        co_return std::pair{co_await Audio::extract(video, start, duration), QString()};
    } catch (const Fail& fail) {
        co_return std::pair{QString(), fail.errorDescription};
    }
}

// A WAV file as ffmpeg writes it (16 kHz mono pcm_s16le) holding these samples.
QByteArray wav(const std::vector<qint16>& samples)
{
    QByteArray out = QByteArray::fromHex("52494646" "00000000" "57415645" "666d7420" "10000000" "0100" "0100"
                                         "803e0000" "007d0000" "0200" "1000" "64617461" "00000000");
    for (qint16 s : samples)
        out.append(char(quint16(s) & 0xff)).append(char(quint16(s) >> 8));
    return out;
}

class AudioTest : public ::testing::Test {
protected:
    QTemporaryDir dir, tmp;
    Env tmpdir{"TMPDIR", tmp.path().toUtf8()};

    QByteArray peaksOf(const QByteArray& bytes)
    {
        QFile file(dir.filePath("in.wav"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        return Audio::peaks(file.fileName());
    }
    std::string leftovers() const { return QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden).join(' ').toStdString(); }
};

TEST_F(AudioTest, ExtractsSixteenKilohertzMonoWithTheRealFfmpeg)
{
    const QString clip = Clips::video(dir.filePath("clip.mp4"), 3);
    ASSERT_FALSE(clip.isEmpty());
    const auto [path, failure] = QCoro::waitFor(extract(clip, 1, 1.5));
    ASSERT_EQ(failure, "");
    EXPECT_TRUE(path.startsWith(QDir(tmp.path()).canonicalPath() + "/vt-") && path.endsWith(".wav"));
    // 1.5 s is 24000 samples: 29 windows of a tone at 1/8 of full scale.
    const QByteArray peaks = Audio::peaks(path);
    EXPECT_NEAR(peaks.size(), 29, 1);
    for (char p : peaks)
        EXPECT_NEAR(quint8(p), 32, 2) << peaks.toHex().data();
    QFile::remove(path);

    const auto [none, missing] = QCoro::waitFor(extract(dir.filePath("missing.mp4"), 0, 1));
    EXPECT_TRUE(missing.startsWith("ffmpeg stopped with an error. ") && missing.size() > 30) << missing.toStdString();
    EXPECT_EQ(leftovers(), "");
}

TEST_F(AudioTest, PassesItsArgumentsAndRemovesTheWavWhenFfmpegFails)
{
    Env tools("VANTOREL_TOOL_DIRS", dir.path().toUtf8());
    QFile fake(dir.filePath("ffmpeg")); // records its arguments, starts the WAV, then fails
    ASSERT_TRUE(fake.open(QIODevice::WriteOnly));
    fake.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s|' \"$a\"; done > \"$0.args\"\n"
               "for last; do :; done\nprintf RIFF > \"$last\"\necho 'Invalid data found' >&2\nexit 1\n");
    fake.setPermissions(fake.permissions() | QFile::ExeOwner);
    fake.close();

    const auto [path, failure] = QCoro::waitFor(extract("/streams/night one.mp4", 150, 210.25));
    EXPECT_EQ(failure, "ffmpeg stopped with an error. Invalid data found");
    QFile args(fake.fileName() + ".args");
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    const QStringList got = QString::fromUtf8(args.readAll()).split('|');
    ASSERT_EQ(got.size(), 19);
    EXPECT_EQ(got.mid(0, 17).join(' '), "-nostdin -v error -y -ss 150.0 -t 210.25 -i /streams/night one.mp4 -vn -ac 1 -ar 16000 -c:a pcm_s16le");
    EXPECT_TRUE(got[17].startsWith(QDir(tmp.path()).canonicalPath() + "/vt-"));
    EXPECT_EQ(leftovers(), ""); // neither the half-written WAV nor the log
}

// ffmpeg reads a length of 0, or one that rounds to no sample, as "to the end": the whole
// rest of a stream would be cut (and, with Scribe, uploaded).
TEST_F(AudioTest, ALengthThatIsNotPositiveIsRefusedBeforeFfmpegRuns)
{
    Env tools("VANTOREL_TOOL_DIRS", dir.path().toUtf8());
    QFile fake(dir.filePath("ffmpeg"));
    ASSERT_TRUE(fake.open(QIODevice::WriteOnly));
    fake.write("#!/bin/sh\ntouch \"$0.ran\"\n");
    fake.setPermissions(fake.permissions() | QFile::ExeOwner);
    fake.close();

    for (const double length : {0.0, -0.0, -1.0, 0.00001, 0.0009, std::nan(""), HUGE_VAL}) {
        const auto [path, failure] = QCoro::waitFor(extract("/streams/night.mp4", 100, length));
        EXPECT_EQ(failure, "A stretch of sound shorter than a millisecond cannot be cut.") << length;
        EXPECT_EQ(path, "");
    }
    EXPECT_FALSE(QFile::exists(fake.fileName() + ".ran"));
    EXPECT_EQ(leftovers(), "");
}

TEST_F(AudioTest, PeaksOneBytePerWindowFollowedBySamples)
{
    for (auto [samples, bytes] : std::vector<std::pair<size_t, qsizetype>>{{0, 0}, {800, 0}, {801, 1}, {1600, 1}, {1601, 2}, {960000, 1199}})
        EXPECT_EQ(peaksOf(wav(std::vector<qint16>(samples, 1000))).size(), bytes) << samples;

    auto peakOf = [&](qint16 loudest, size_t at) {
        std::vector<qint16> samples(1601, 0);
        samples[at] = loudest;
        return peaksOf(wav(samples)).toHex().toStdString();
    };
    EXPECT_EQ(peakOf(-32768, 0), "ff00");
    EXPECT_EQ(peakOf(32767, 799), "ff00");
    EXPECT_EQ(peakOf(127, 0), "0000");
    EXPECT_EQ(peakOf(-128, 0), "0100");
    EXPECT_EQ(peakOf(1280, 800), "000a");
    EXPECT_EQ(peakOf(1280, 1600), "0000"); // the tail after the last window gets no byte

    EXPECT_EQ(Audio::peaks(dir.filePath("missing.wav")), "");
    EXPECT_EQ(peaksOf(wav(std::vector<qint16>(4000, 9000)).replace("data", "dada")), "");
    EXPECT_EQ(peaksOf("RIFF....WAVEdata\x01\x02\x03"), "");
}

} // namespace
