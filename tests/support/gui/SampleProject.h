#pragma once

// Projects that fill the workspace's sidebar: every state a row can be in (screenshots,
// widget tests), and a large one (the benchmark).

#include "core/project/Records.h"

#include <QUuid>

namespace sample {

inline QUuid id(int n)
{
    return QUuid(QStringLiteral("00000000-0000-4000-8000-%1").arg(n, 12, 10, QLatin1Char('0')));
}

inline Segment seg(const QString& id, double start, double end, const QString& title = {})
{
    Segment s;
    s.id = id;
    s.start = start;
    s.end = end;
    s.markers = {start + 150};
    s.title = title;
    return s;
}

inline std::vector<Line> said(double at)
{
    return {{at, at + 3, QStringLiteral("no way, no way")}, {at + 3, at + 6, QStringLiteral("did you see that")}};
}

inline Cut cut(int n, double start, double end)
{
    return {id(n), start, end, {}};
}

// One row in each state: transcribed with a vibe, failed, rejected, favourite, waiting
// to be asked, still transcribing, summarized or not, touching its neighbour.
inline Project sampleProject(const QString& video)
{
    Project p;
    p.video = video;
    p.duration = 3 * 3600 + 27;
    p.markerCount = 9;
    p.autoTranscribe = false;
    p.ideated = true;
    Segment a = seg(QStringLiteral("01"), 610, 820, QStringLiteral("The boss fight that went sideways"));
    a.lines = said(620);
    a.summary = QStringLiteral("A long fight.");
    a.energy = QStringLiteral("hype");
    a.kind = QStringLiteral("clutch");
    a.rating = 1;
    Segment b = seg(QStringLiteral("02"), 820, 1030, QStringLiteral("Chat argues about the map, and the streamer gives in halfway through"));
    b.lines = said(830);
    b.energy = QStringLiteral("tense");
    b.kind = QStringLiteral("banter");
    Segment c = seg(QStringLiteral("03"), 1500, 1710);
    c.error = QStringLiteral("whisper stopped: the model file is missing.");
    Segment d = seg(QStringLiteral("04"), 2210, 2420, QStringLiteral("Loading screen"));
    d.lines = said(2220);
    d.summary = QStringLiteral("Nothing.");
    d.energy = QStringLiteral("calm");
    d.kind = QStringLiteral("downtime");
    d.rating = -1;
    Segment e = seg(QStringLiteral("05"), 3300, 3510, QStringLiteral("Jump scare in the basement"));
    e.lines = said(3310);
    e.summary = QStringLiteral("Scared.");
    e.energy = QStringLiteral("panic");
    e.kind = QStringLiteral("scare");
    Segment f = seg(QStringLiteral("05a"), 4000, 4600);
    f.manual = true;
    f.waiting = true;
    f.markers = {};
    Segment g = seg(QStringLiteral("06"), 5200, 5410);
    Segment h = seg(QStringLiteral("07"), 6100, 6310, QStringLiteral("<b>Not bold</b> & friends"));
    h.lines = std::vector<Line>{};
    h.summary = QStringLiteral("Quiet.");
    Segment i = seg(QStringLiteral("08"), 7000, 7210);
    i.lines = said(7010);
    p.segments = {a, b, c, d, e, f, g, h, i};

    Idea one{id(101), QStringLiteral("He clutched it with one HP"), QStringLiteral("One hit point left, three enemies."),
             QStringLiteral("clutch"), QStringLiteral("Tension, then a clean payoff in under 40 seconds."),
             {cut(1, 700, 712), cut(2, 730, 741.5), cut(3, 790, 801)}};
    Idea two{id(102), QStringLiteral("Chat was right"), QStringLiteral("The map argument, settled."),
             QStringLiteral("story"), QStringLiteral("Viewers love being right."), {cut(4, 900, 930)}};
    Idea three{id(103), QStringLiteral("The basement"), QStringLiteral("Don't go down there."),
               QStringLiteral("reaction"), QStringLiteral("A scream is a hook."), {cut(5, 3320, 3330), cut(6, 3400, 3400.05)}};
    p.ideas = {one, two, three};

    Short s1{id(201), QStringLiteral("He clutched it with one HP"), one.id,
             {cut(11, 700, 712), cut(12, 730, 745), cut(13, 790, 801)}, std::nullopt};
    Short s2{id(202), QStringLiteral("Best of the boss fight, a title long enough to wrap onto a second line"),
             std::nullopt, {cut(14, 640, 700.1)}, std::nullopt};
    Short s3{id(203), QStringLiteral("New Short"), std::nullopt, {}, true};
    Short s4{id(204), QStringLiteral("Chat was right"), two.id, {cut(15, 900, 930)}, std::nullopt};
    p.shorts = {s1, s2, s3, s4};
    return p;
}

// `segments` segments of which every tenth is rejected or a favourite, `shorts` Shorts
// over them and `ideas` unopened ideas.
inline Project largeProject(const QString& video, int segments, int shorts, int ideas)
{
    Project p;
    p.video = video;
    p.duration = segments * 300.0;
    p.markerCount = segments;
    for (int i = 0; i < segments; ++i) {
        Segment s = seg(QString::asprintf("%03d", i + 1), i * 300.0, i * 300.0 + 210, QStringLiteral("Segment title %1").arg(i));
        s.lines = said(i * 300.0);
        s.summary = QStringLiteral("Summary.");
        s.energy = QStringLiteral("hype");
        s.kind = QStringLiteral("clutch");
        if (i % 10 == 3)
            s.rating = -1;
        if (i % 10 == 7)
            s.rating = 1;
        p.segments.push_back(s);
    }
    for (int i = 0; i < shorts; ++i)
        p.shorts.push_back({id(1000 + i), QStringLiteral("Short %1").arg(i), std::nullopt,
                            {cut(2000 + i, i * 300.0 + 10, i * 300.0 + 40)}, std::nullopt});
    for (int i = 0; i < ideas; ++i)
        p.ideas.push_back({id(3000 + i), QStringLiteral("Idea %1").arg(i), QStringLiteral("A hook."),
                           QStringLiteral("clutch"), QStringLiteral("Why."), {cut(4000 + i, i * 300.0, i * 300.0 + 20)}});
    return p;
}

} // namespace sample
