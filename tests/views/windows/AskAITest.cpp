// The Ask AI sheet on a real model and the fake gateway: Return creates and Shift+Return
// breaks the line, a failure stays in the sheet, and a sheet closed while its request
// runs is left alone by that request.

#include "model/lifecycle/LifecycleTesting.h"
#include "support/Await.h"
#include "support/Env.h"
#include "support/FakeServer.h"
#include "views/windows/ActivityView.h"
#include "views/windows/AskAI.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

using namespace lifecycle;

namespace {

const QByteArray chat = "/api/v1/chat/completions";

QByteArray completion(const std::string& content)
{
    const Json reply = {{"choices", Json::array({{{"message", {{"content", content}}}}})}, {"usage", {{"cost", 0.03}}}};
    return QByteArray::fromStdString(reply.dump());
}

Segment heard(const QString& id, double start, std::optional<qint64> rating = std::nullopt)
{
    Segment s = segment(id, start, start + 2.5);
    s.lines = std::vector<Line>{{start + 0.5, start + 1.5, "hello chat"}, {start + 1.5, start + 2.5, "goodbye"}};
    s.rating = rating;
    return s;
}

class AskAITest : public LifecycleTest {
protected:
    FakeServer server;
    ScopedEnv api{"VANTOREL_API_BASE", server.base().toUtf8()};
    ScopedEnv key{"OPENROUTER_API_KEY", QByteArray("sk-or-test")};
    std::unique_ptr<AppModel> model = makeModel();

    void openHeard()
    {
        // 03 is rejected and 04 has no transcript: neither is listed.
        Project p = projectOf(copy(plainClip(), root + "/Ask.mp4"),
                              {heard("01", 0), heard("02", 3), heard("03", 6, -1), segment("04", 9, 10)});
        QCoro::waitFor(model->openProject(writePackage(root + "/Ask.vtrl", p)));
        if (model->pipeline())
            QCoro::waitFor(model->pipeline()->done());
    }
    static void type(QWidget* field, const QString& text) { QTest::keyClicks(field, text); }
};

} // namespace

TEST_F(AskAITest, ReturnCreatesAndShiftReturnBreaksTheLine)
{
    openHeard();
    server.reply(chat, 200, completion(R"({"title":"Greeting","cuts":[{"from":"02.01","to":"02.02"}]})"));
    QPointer<AskAI> sheet = new AskAI(*model);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->show();
    QPlainTextEdit* field = sheet->instruction();
    EXPECT_EQ(sheet->list()->height(), 28 * 2 + 4);
    EXPECT_EQ(sheet->countLabel()->text(), "none");
    // A title that arrives while the sheet is open shows in its row, on one line.
    Project titled = model->project();
    titled.segments[0].title = "The moon\nrises";
    model->setProject(titled);
    const QStringList shown = [&] {
        QStringList texts;
        for (QLabel* label : sheet->list()->findChildren<QLabel*>())
            texts << label->text();
        return texts;
    }();
    EXPECT_TRUE(shown.contains("The moon rises") && !shown.contains("Segment 01"));

    QTest::keyClick(field, Qt::Key_Return); // nothing typed: nothing happens
    field->setPlainText(" \t");
    field->moveCursor(QTextCursor::End);
    EXPECT_FALSE(sheet->createButton()->isEnabled());
    QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(field->toPlainText(), " \t\n");
    EXPECT_TRUE(sheet->createButton()->isEnabled()) << "a line break is more than spaces and tabs";
    type(field, "the greeting");

    model->setSelection(QStringLiteral("03"));
    sheet->onScreenButton()->click();
    EXPECT_EQ(sheet->countLabel()->text(), "1") << "the rejected segment on screen goes along though unlisted";
    sheet->allButton()->click();
    EXPECT_EQ(sheet->included(), (std::set<QString>{"01", "02"}));

    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(sheet->createButton()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !sheet; }));
    ASSERT_EQ(model->project().shorts.size(), 1u);
    EXPECT_EQ(model->project().shorts[0].title, "Greeting");
    ASSERT_FALSE(server.requests().empty());
    EXPECT_TRUE(server.requests().back().body.contains("the greeting"));
    ASSERT_FALSE(model->jobs().empty());
    EXPECT_FALSE(model->stoppable(model->jobs().front().id)) << "the token is let go once the request returns";
}

TEST_F(AskAITest, AFailureStaysInTheSheetWithTheInput)
{
    openHeard();
    // A gateway's message of any length is shown as written, and the sheet stays on screen.
    const std::string message = QString("slow down ").repeated(3000).toStdString();
    server.reply(chat, 500, QByteArray::fromStdString(Json{{"error", {{"message", message}}}}.dump()));
    QPointer<AskAI> sheet = new AskAI(*model);
    sheet->show();
    const int before = sheet->height();
    type(sheet->instruction(), "anything");
    sheet->createButton()->click();
    ASSERT_TRUE(waitUntil([&] { return sheet->failureLabel()->isVisible(); }, 20000));
    EXPECT_EQ(sheet->failureLabel()->text(), "OpenRouter did not answer. " + QString::fromStdString(message));
    settle(20);
    EXPECT_LT(sheet->height(), before + 12 * sheet->fontMetrics().lineSpacing());
    EXPECT_EQ(sheet->width(), 480);
    EXPECT_EQ(sheet->instruction()->toPlainText(), "anything");
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(sheet->createButton()->isEnabled());
    delete sheet;
}

TEST_F(AskAITest, ASheetClosedWhileItsRequestRunsIsLeftAlone)
{
    openHeard();
    server.hang(chat);
    QPointer<AskAI> first = new AskAI(*model);
    first->setAttribute(Qt::WA_DeleteOnClose);
    first->show();
    type(first->instruction(), "the greeting");
    first->createButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !server.requests().empty(); }));
    first->close();
    ASSERT_TRUE(waitUntil([&] { return !first; }));

    // A new sheet shows the running request and cannot start a second one.
    QPointer<AskAI> second = new AskAI(*model);
    second->show();
    type(second->instruction(), "other");
    EXPECT_FALSE(second->createButton()->isEnabled());
    EXPECT_TRUE(second->costLabel()->isHidden());

    // The request still runs until someone stops it; its end leaves the new sheet open.
    ASSERT_FALSE(model->jobs().empty());
    const QUuid asking = model->jobs().front().id;
    ASSERT_TRUE(model->stoppable(asking));
    model->stop(asking);
    ASSERT_TRUE(waitUntil([&] { return !model->composing(); }));
    settle(50);
    EXPECT_TRUE(second && second->isVisible());
    EXPECT_TRUE(second->createButton()->isEnabled());
    EXPECT_TRUE(second->failureLabel()->isHidden()) << "the old request's failure is not this sheet's";
    delete second;
}

TEST_F(AskAITest, StopShowsOnlyForARequestThatItStops)
{
    openHeard();
    server.hang(chat);
    ActivityView view(*model);
    view.show();
    const auto front = [&] { return model->jobs().empty() ? Job{} : model->jobs().front(); };
    const auto button = [&] { return view.headerButton() ? view.headerButton()->text() : QString(); };

    // Run Again of an Ask AI request holds a token of its own: Stop ends that request.
    Job asked = job(1, "done", 1000, 1002);
    asked.kind = "ask";
    asked.rerun = Rerun{Rerun::Ask{"the greeting", {"01"}}};
    model->runAgain(asked);
    ASSERT_TRUE(waitUntil([&] { return front().kind == "ask" && button() == "Stop"; }));
    EXPECT_FALSE(view.footerStop()->isVisible()) << "the footer's Stop is the pipeline's";
    view.headerButton()->click();
    ASSERT_TRUE(waitUntil([&] { return front().state == "cancelled"; }, 20000));
    settle(20);
    EXPECT_EQ(model->problem(), std::nullopt) << "a request the user stopped is no failure";
    EXPECT_EQ(button(), "Run Again");

    // The pipeline's idea search: Stop ends the run, as the footer's Stop does.
    model->runPipeline(true, false, false, false, {});
    ASSERT_TRUE(waitUntil([&] { return front().kind == "ideas" && button() == "Stop"; }));
    EXPECT_TRUE(view.footerStop()->isVisible());
    view.headerButton()->click();
    ASSERT_TRUE(waitUntil([&] { return front().state == "cancelled" && !model->working(); }, 20000));

    // A request started without a token (the command line) shows no Stop that would
    // stop nothing.
    const size_t sent = server.requests(chat).size();
    auto untokened = model->compose("the greeting", {});
    ASSERT_TRUE(waitUntil([&] { return front().state == "running" && server.requests(chat).size() > sent; }));
    settle(20);
    EXPECT_EQ(button(), "");
    server.close();
    (void)await(std::move(untokened));
    EXPECT_EQ(front().state, "failed");
}
