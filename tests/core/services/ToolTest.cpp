#include "core/project/Fail.h"
#include "core/services/Tool.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "support/Await.h"
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
    QTemporaryDir onPath;
    writeFile(onPath.filePath("vt-on-path"), "");
    Env path("PATH", onPath.path().toUtf8());

    EXPECT_EQ(Tool::find("vt-both"), bin.filePath("vt-both"));
    EXPECT_EQ(Tool::find("vt-plain"), other.filePath("vt-plain")); // the first is not executable
    EXPECT_EQ(Tool::find("vt-on-path"), std::nullopt);
    EXPECT_EQ(Tool::find(""), std::nullopt);
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

} // namespace
