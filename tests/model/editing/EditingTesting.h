#pragma once

// The editing tests' project: a package on disk with segments, Shorts and ideas, opened
// in a model with fake players.

#include "model/lifecycle/LifecycleTesting.h"

namespace editing {

using namespace lifecycle;

inline Cut cut(int n, double start, double end) { return Cut{uuid(n), start, end, QStringLiteral("hook")}; }

inline Short shortOf(int n, std::vector<Cut> cuts, std::optional<QUuid> idea = std::nullopt)
{
    return Short{uuid(n), QStringLiteral("Short %1").arg(n), idea, std::move(cuts), std::nullopt};
}

// A transcribed segment whose one line runs from 10 s to 10.5 s after its start.
inline Segment spoken(const QString& id, double start, double end, bool manual = false)
{
    Segment s = segment(id, start, end, {start + 1});
    s.lines = std::vector<Line>{{start + 10, start + 10.5, QStringLiteral("words")}};
    s.manual = manual ? std::optional<bool>(true) : std::nullopt;
    return s;
}

// 01 and 02 touch; 02a was added by hand.
inline std::vector<Segment> fourSegments()
{
    return {spoken("01", 0, 30), spoken("02", 30, 60), spoken("02a", 62, 68, true), spoken("03", 70, 100)};
}

// Short 100 (from idea 200) has three cuts, Short 101 one.
inline std::vector<Short> twoShorts()
{
    return {shortOf(100, {cut(1, 1, 3), cut(2, 5, 8), cut(3, 12, 15)}, uuid(200)), shortOf(101, {cut(4, 40, 45)})};
}

class EditingTest : public LifecycleTest {
protected:
    std::unique_ptr<AppModel> model;
    QString package;

    // Opens a 400 s project in which the pipeline finds nothing to do.
    void openWith(std::vector<Segment> segments = fourSegments(), std::vector<Short> shorts = twoShorts())
    {
        model = makeModel();
        Project p = projectOf(copy(plainClip(), root + "/Stream.mp4"), std::move(segments));
        p.duration = 400;
        p.shorts = std::move(shorts);
        p.ideas = {Idea{uuid(200), "Idea", "", "", "", {cut(5, 1, 3), cut(6, 5, 8)}},
                   Idea{uuid(201), "Other", "", "", "", {cut(7, 20, 25)}}};
        p.analyzed = true;
        p.ideated = true;
        package = writePackage(root + "/Stream.vtrl", p);
        QCoro::waitFor(model->openProject(package));
        ASSERT_EQ(model->problem(), std::nullopt);
    }
    Project stored() const { return Project::load(package); }
    // Marks a range in segment 01 (recording seconds).
    void markRange(double from, double to)
    {
        model->setSelection(QStringLiteral("01"));
        model->clock().setTime(from);
        model->mark(Edge::start);
        model->clock().setTime(to);
        model->mark(Edge::end);
    }
};

} // namespace editing
