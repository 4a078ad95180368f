#pragma once

// The editing tests' project on disk: segments, two Shorts and two ideas, opened with fake players.

#include "model/lifecycle/LifecycleTesting.h"

namespace editing {

using namespace lifecycle;

inline Cut cut(int n, double start, double end) { return Cut{uuid(n), start, end, QStringLiteral("hook")}; }

inline Short shortOf(int n, std::vector<Cut> cuts, std::optional<QUuid> idea = std::nullopt)
{
    return Short{uuid(n), QStringLiteral("Short %1").arg(n), idea, std::move(cuts), std::nullopt};
}

// Transcribed: one line from 10 s to 10.5 s after the start.
inline Segment spoken(const QString& id, double start, double end, std::optional<bool> manual = std::nullopt)
{
    Segment s = segment(id, start, end, {start + 1});
    s.lines = std::vector<Line>{{start + 10, start + 10.5, QStringLiteral("words")}};
    s.manual = manual;
    return s;
}

class EditingTest : public LifecycleTest {
protected:
    std::unique_ptr<AppModel> model;
    QString package;

    // A 400 s project in which the pipeline finds nothing to do. By default 01 and 02
    // touch, 02a was added by hand, Short 100 (from idea 200) has three cuts, 101 one.
    void openWith(std::vector<Segment> segments = {spoken("01", 0, 30), spoken("02", 30, 60),
                                                   spoken("02a", 62, 68, true), spoken("03", 70, 100)},
                  std::vector<Short> shorts = {shortOf(100, {cut(1, 1, 3), cut(2, 5, 8), cut(3, 12, 15)}, uuid(200)),
                                               shortOf(101, {cut(4, 40, 45)})})
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
};

} // namespace editing
