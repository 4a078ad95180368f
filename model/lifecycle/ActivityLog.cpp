// The activity log: finishing jobs, notes, the file activity.jsonl, re-runs and the
// cost estimates of re-runs.

#include "core/project/Text.h"
#include "core/services/Pricing.h"
#include "core/services/Prompts.h"
#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"

#include <QFile>
#include <QFileInfo>
#include <map>

namespace {

const QString logName = QStringLiteral("activity.jsonl");
constexpr int maxStoredCharacters = 60000;
constexpr int linesRead = 400;

// The first 60000 user-visible characters, or nothing for an empty text.
std::optional<QString> stored(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    if (text.size() <= maxStoredCharacters) // never more characters than code units
        return text;
    return Text::firstGraphemes(text, maxStoredCharacters);
}

} // namespace

void AppModel::finish(const QUuid& id, const Trace& trace, const QString& state, const std::optional<QString>& error)
{
    stops_.erase(id);
    std::vector<Job> next = jobs_;
    const auto it = std::find_if(next.begin(), next.end(), [&](const Job& j) { return j.id == id; });
    if (it == next.end())
        return; // the list was emptied meanwhile (the project was closed)
    it->ended = json::now();
    it->state = state;
    it->error = error;
    it->cost = trace.cost > 0 ? std::optional<double>(trace.cost) : std::nullopt;
    it->request = stored(trace.request);
    it->reply = stored(trace.reply);
    const Job finished = *it;
    setJobs(std::move(next));
    log(finished);
}

void AppModel::log(const Job& job)
{
    // A project kept as a single file has no folder to hold a log.
    if (!file_ || !QFileInfo(*file_).isDir())
        return;
    QByteArray line;
    try {
        line = json::dumpBytes(json::write(job));
    } catch (const Fail&) {
        return;
    }
    line += '\n';
    QFile log(*file_ + u'/' + logName);
    if (!log.open(QIODevice::ReadWrite | QIODevice::Append))
        return;
    // A line cut short by a crash must not swallow the next one: start on a line of its own.
    if (log.size() > 0 && log.seek(log.size() - 1) && log.peek(1) != "\n")
        line.prepend('\n');
    log.write(line); // one write, so two jobs' lines never interleave
    log.close();
}

void AppModel::note(const QString& title, const QString& detail)
{
    Job entry;
    entry.id = QUuid::createUuid();
    entry.kind = QStringLiteral("note");
    entry.title = title;
    entry.detail = detail;
    entry.started = json::now();
    entry.ended = entry.started;
    entry.state = QStringLiteral("note");
    std::vector<Job> next = jobs_;
    next.insert(next.begin(), entry);
    setJobs(std::move(next));
    log(entry);
}

void AppModel::loadActivity()
{
    if (!file_) {
        setJobs({});
        return;
    }
    QFile log(*file_ + u'/' + logName);
    if (!log.open(QIODevice::ReadOnly)) {
        setJobs({});
        return;
    }
    // Each line is checked on its own: a line cut short by a crash (even in the middle of
    // a character) is skipped and the others still load.
    const QList<QByteArray> all = log.readAll().split('\n');
    std::vector<QByteArrayView> lines;
    for (const QByteArray& line : all) {
        if (!line.isEmpty())
            lines.emplace_back(line);
    }
    const size_t first = lines.size() > size_t(linesRead) ? lines.size() - linesRead : 0;

    std::vector<QUuid> order;
    std::map<QUuid, Job> byId;
    for (size_t i = first; i < lines.size(); ++i) {
        Job job;
        try {
            json::read(json::parse(lines[i]), job);
        } catch (const Fail&) {
            continue;
        } catch (const Json::exception&) {
            continue;
        }
        if (job.state == u"running") {
            job.state = QStringLiteral("interrupted");
            job.ended = job.ended.value_or(job.started);
        }
        if (!byId.count(job.id))
            order.push_back(job.id);
        byId[job.id] = std::move(job);
    }
    std::vector<Job> loaded;
    loaded.reserve(order.size());
    for (auto it = order.rbegin(); it != order.rend(); ++it)
        loaded.push_back(byId[*it]);
    setJobs(std::move(loaded));
}

double AppModel::spent() const
{
    double total = 0;
    for (const Job& j : jobs_)
        total += j.cost.value_or(0);
    return total;
}

void AppModel::runAgain(const Job& job)
{
    if (!job.rerun)
        return;
    std::visit(
        [&](const auto& c) {
            using C = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<C, Rerun::Transcribe>) {
                transcribeAgain({c.segment}, c.engine);
            } else if constexpr (std::is_same_v<C, Rerun::Summarize>) {
                if (c.segments.empty())
                    runPipeline(false, true, false, false, {});
                else
                    runPipeline(false, false, false, false, std::set<QString>(c.segments.begin(), c.segments.end()));
            } else if constexpr (std::is_same_v<C, Rerun::Ideas>) {
                runPipeline(true, false, false, false, {});
            } else {
                const QPointer<AppModel> self(this);
                // A token of its own, so that the activity window's Stop reaches this request.
                TaskHandle::start([self, instruction = c.instruction,
                                   ids = std::set<QString>(c.segments.begin(), c.segments.end())](Cancel) -> QCoro::Task<> {
                    if (!self)
                        co_return;
                    const Cancel stop = Cancel::make();
                    const auto message = co_await self->compose(instruction, ids, stop);
                    // A request the user stopped is no failure to report: its job says so.
                    if (self && message && !stop.cancelled())
                        self->setProblem(message);
                });
            }
        },
        job.rerun->value);
}

void AppModel::cancelWork()
{
    if (pipeline_)
        pipeline_->cancel();
    setWorking(false);
    setStatus(QString());
}

bool AppModel::stoppable(const QUuid& job) const
{
    const auto found = stops_.find(job);
    return found != stops_.end() && !found->second.cancelled();
}

void AppModel::stop(const QUuid& job)
{
    const auto found = stops_.find(job);
    if (found == stops_.end())
        return;
    // A copy: cancelling may finish the job at once, and finishing lets go of its entry.
    const Cancel token = found->second;
    if (pipeline_ && pipeline_->token() == token)
        cancelWork(); // the pipeline stops as a whole, and its status with it
    else
        token.cancel();
}

std::optional<double> AppModel::estimate(const Rerun& rerun) const
{
    std::vector<Segment> kept;
    for (const Segment& s : project_.segments) {
        if (s.rating != -1)
            kept.push_back(s);
    }
    auto among = [](const std::vector<Segment>& from, const std::vector<QString>& ids) {
        std::vector<Segment> out;
        for (const Segment& s : from) {
            if (std::find(ids.begin(), ids.end(), s.id) != ids.end())
                out.push_back(s);
        }
        return out;
    };
    return std::visit(
        [&](const auto& c) -> std::optional<double> {
            using C = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<C, Rerun::Transcribe>) {
                return std::nullopt;
            } else if constexpr (std::is_same_v<C, Rerun::Summarize>) {
                const auto segments = c.segments.empty() ? project_.segments : among(project_.segments, c.segments);
                return Pricing::estimate(Analyst::summaryModel(), Analyst::transcript(segments),
                                         150 * int(segments.size()) + 4000);
            } else if constexpr (std::is_same_v<C, Rerun::Ideas>) {
                return Pricing::estimate(Analyst::editModel(), Analyst::digest(kept) + Analyst::transcript(kept), 6000);
            } else {
                return Pricing::estimate(Analyst::editModel(),
                                         Analyst::digest(kept) + Analyst::transcript(among(kept, c.segments)), 4500);
            }
        },
        rerun.value);
}

std::vector<QString> AppModel::unsummarized() const
{
    std::vector<QString> ids;
    for (const Segment& s : project_.segments) {
        if (s.lines && !s.lines->empty() && s.title.isEmpty())
            ids.push_back(s.id);
    }
    return ids;
}

std::vector<QString> AppModel::untranscribed() const
{
    std::vector<QString> ids;
    for (const Segment& s : project_.segments) {
        if (!s.lines && !s.error)
            ids.push_back(s.id);
    }
    return ids;
}
