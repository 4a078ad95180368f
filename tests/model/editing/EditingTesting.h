#pragma once

// Shared helpers of the editing tests: a package on disk with segments, Shorts and ideas,
// opened in a model with fake players.

#include "model/lifecycle/LifecycleTesting.h"

namespace editing {

using namespace lifecycle;

inline Cut cut(int n, double start, double end) { return Cut{uuid(n), start, end, QStringLiteral("hook")}; }

inline Short shortOf(int n, std::vector<Cut> cuts, std::optional<QUuid> idea = std::nullopt)
{
    Short s;
    s.id = uuid(n);
    s.title = QStringLiteral("Short %1").arg(n);
    s.idea = idea;
    s.cuts = std::move(cuts);
    return s;
}

// A transcribed segment with one line from 10 s to 10.5 s after its start.
inline Segment spoken(const QString& id, double start, double end, bool manual = false)
{
    Segment s = segment(id, start, end, {start + 1});
    s.lines = std::vector<Line>{{start + 10, start + 10.5, QStringLiteral("words")}};
    if (manual)
        s.manual = true;
    return s;
}

// 01 and 02 touch; 02a was added by hand; 03 stands apart.
inline std::vector<Segment> fourSegments()
{
    return {spoken("01", 0, 30), spoken("02", 30, 60), spoken("02a", 62, 68, true), spoken("03", 70, 100)};
}

// Short 100 (from idea 200, active) has three cuts; Short 101 has one.
inline std::vector<Short> twoShorts()
{
    return {shortOf(100, {cut(1, 1, 3), cut(2, 5, 8), cut(3, 12, 15)}, uuid(200)), shortOf(101, {cut(4, 40, 45)})};
}

inline Idea ideaOf(int n, std::vector<Cut> cuts)
{
    Idea idea;
    idea.id = uuid(n);
    idea.title = QStringLiteral("Idea %1").arg(n);
    idea.cuts = std::move(cuts);
    return idea;
}

class EditingTest : public LifecycleTest {
protected:
    std::unique_ptr<AppModel> model;
    QString package;

    // Opens a 400 s project; the pipeline finds nothing to do in it.
    void openWith(std::vector<Segment> segments = fourSegments(), std::vector<Short> shorts = twoShorts(),
                  std::vector<Idea> ideas = {ideaOf(200, {cut(5, 1, 3), cut(6, 5, 8)}), ideaOf(201, {cut(7, 20, 25)})})
    {
        model = makeModel();
        const QString recording = copy(plainClip(), root + "/Stream.mp4");
        Project p = projectOf(recording, std::move(segments));
        p.duration = 400;
        p.shorts = std::move(shorts);
        p.ideas = std::move(ideas);
        p.analyzed = true;
        p.ideated = true;
        p.autoSummarize = false;
        p.autoIdeas = false;
        package = writePackage(root + "/Stream.vtrl", p);
        QCoro::waitFor(model->openProject(package));
        ASSERT_EQ(model->problem(), std::nullopt);
        ASSERT_EQ(model->activeShort(), uuid(100)) << "the first Short is active after opening";
    }
    Project stored() const { return Project::load(package); }
    FakePlayer& player() { return playerOf(*model); }
    void setMarkedRange(double from, double to)
    {
        model->setSelection(QStringLiteral("01"));
        model->clock().setTime(from);
        model->mark(Edge::start);
        model->clock().setTime(to);
        model->mark(Edge::end);
    }
};

} // namespace editing
