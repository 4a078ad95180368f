#include "core/project/Fail.h"
#include "core/services/Tool.h"

#include <QCoro/QCoroTask>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "support/Await.h"
#include "support/Detached.h"
#include "support/Env.h"
#include "support/Files.h"

namespace {

using Env = ScopedEnv;

void writeFile(const QString& path, const QByteArray& bytes, bool executable = true)
{
    ASSERT_TRUE(testfiles::writeFile(path, bytes, executable));
}

// Stand-in programs in `bin`, searched first; `tmp` is the runs' temporary folder, so
// whatever a run leaves behind shows there.
class ToolTest : public ::testing::Test {
protected:
    QTemporaryDir bin, other, tmp;
    Env tools{"VANTOREL_TOOL_DIRS", (bin.path() + "::" + other.path()).toUtf8()};
    Env tmpdir{"TMPDIR", tmp.path().toUtf8()};

    std::optional<QString> run(const QString& name, const QStringList& arguments = {})
    {
        return failureOf(Tool::run(name, arguments));
    }
    std::string leftovers() const { return QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden).join(' ').toStdString(); }
};

TEST_F(ToolTest, FindsInToolFoldersOnlyFirstFolderFirst)
{
    for (const QString& dir : {bin.path(), other.path()})
        writeFile(dir + "/vt-both", "");
    writeFile(bin.filePath("vt-plain"), "", false);
    writeFile(other.filePath("vt-plain"), "");

    EXPECT_EQ(Tool::find("vt-both"), bin.filePath("vt-both"));
    EXPECT_EQ(Tool::find("vt-plain"), other.filePath("vt-plain")); // the first is not executable
    EXPECT_EQ(Tool::find(""), std::nullopt);
}

// PATH is searched after every fixed folder, and only its absolute folders: what is found
// never depends on the folder the program was started in.
TEST_F(ToolTest, PathIsSearchedAfterTheFixedFolders)
{
    QTemporaryDir first, second, here;
    writeFile(first.filePath("vt-on-path"), "");
    writeFile(second.filePath("vt-on-path"), "");
    writeFile(first.filePath("vt-plain"), "", false);
    writeFile(second.filePath("vt-plain"), "");
    writeFile(first.filePath("sh"), ""); // /usr/bin has its own
    writeFile(bin.filePath("vt-ours"), "");
    writeFile(first.filePath("vt-ours"), "");
    writeFile(here.filePath("vt-here"), "");
    QDir(first.path()).mkdir("vt-folder");
    writeFile(second.filePath("vt-folder"), "");
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(here.path()));
    const QString relative = QDir(here.path()).relativeFilePath(first.path());

    struct Case {
        const char* name;
        QString path;
        QString program;
        std::optional<QString> found;
    };
    const std::vector<Case> cases{
        {"a program in no fixed folder is found on PATH", first.path(), "vt-on-path", first.filePath("vt-on-path")},
        {"the PATH folders keep their order", first.path() + ':' + second.path(), "vt-on-path", first.filePath("vt-on-path")},
        {"a fixed folder wins over PATH", first.path(), "sh", "/usr/bin/sh"},
        {"the test folders win over PATH", first.path(), "vt-ours", bin.filePath("vt-ours")},
        {"a file that is not executable is skipped", first.path() + ':' + second.path(), "vt-plain", second.filePath("vt-plain")},
        {"a folder of that name is skipped", first.path() + ':' + second.path(), "vt-folder", second.filePath("vt-folder")},
        {"empty entries do not mean the current folder", "::" + second.path() + ':', "vt-here", std::nullopt},
        {"a dot does not mean the current folder", ".", "vt-here", std::nullopt},
        {"relative entries are skipped", relative, "vt-on-path", std::nullopt},
        {"no PATH at all", "", "vt-on-path", std::nullopt},
    };
    for (const Case& c : cases) {
        Env path("PATH", c.path.toUtf8());
        EXPECT_EQ(Tool::find(c.program), c.found) << c.name;
    }
    QDir::setCurrent(previous);
}

TEST_F(ToolTest, RunsWithArgumentsAsGivenAndLeavesNoLog)
{
    const QString out = bin.filePath("args");
    writeFile(bin.filePath("vt-echo"), "#!/bin/sh\nfor a in \"$@\"; do printf '%s|' \"$a\"; done > '" + out.toUtf8() + "'\necho noise\n");
    EXPECT_EQ(run("vt-echo", {"two words", "$HOME", "*", "a;b", "", "ü"}), std::nullopt);
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "two words|$HOME|*|a;b||ü|");
    EXPECT_EQ(leftovers(), "");
}

TEST_F(ToolTest, FailuresGiveOneSentenceAndLeaveNoLog)
{
    const std::vector<std::pair<QByteArray, QString>> cases{
        {"printf 'first line\\n\\n\\nsecond line\\n\\n' >&2; exit 1", "second line"},
        {"exit 3", ""},
        {"printf 'one\\r\\ntwo\\342\\200\\250\\f' >&2; exit 1", "two"},
        {"printf 'bad \\377 byte\\n' >&2; exit 1", ""}, // not UTF-8: counts as empty
        {"echo dying words >&2; kill -KILL $$", "dying words"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const QString name = QStringLiteral("vt-fail-%1").arg(i);
        writeFile(bin.filePath(name), "#!/bin/sh\n" + cases[i].first + "\n");
        EXPECT_EQ(run(name), name + " stopped with an error. " + cases[i].second) << i;
    }
    EXPECT_EQ(run("vt-nowhere"), "vt-nowhere is not installed. Install it with Homebrew, then try again.");

    // Executable, but it cannot be launched: a sentence naming it, and no endless wait.
    writeFile(bin.filePath("vt-broken"), "#!/nonexistent/interpreter\n");
    EXPECT_TRUE(run("vt-broken").value_or("").startsWith("vt-broken could not be started from " + bin.filePath("vt-broken")));
    EXPECT_EQ(leftovers(), "");
}

// A coroutine destroyed while a program runs is never resumed by the program's end.
TEST_F(ToolTest, AFrameDestroyedWhileAProgramRunsIsNotResumed)
{
    QProcess process;
    process.setProgram("/bin/sh");
    process.setArguments({"-c", "sleep 0.2"});
    process.start();
    ASSERT_TRUE(process.waitForStarted());
    bool resumed = false;
    auto wait = [](QProcess& p, bool& out) -> Detached {
        co_await Tool::ended(p);
        out = true;
    };
    Detached waiting = wait(process, resumed);
    waiting.frame.destroy();
    ASSERT_TRUE(process.waitForFinished(5000));
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(resumed);
}

} // namespace
