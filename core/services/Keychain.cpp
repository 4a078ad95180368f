#include "core/services/Keychain.h"

#include "core/project/Text.h"
#include "platform/Ending.h"
#include "platform/TaskHandle.h"

#include <QCoro/QCoroSignal>
#include <QStringDecoder>
#include <chrono>
#include <qt6keychain/keychain.h>

namespace Keychain {

namespace {

struct State {
    std::optional<QString> key;
    // The key in memory is what the store holds: read, or set since.
    bool loaded = false;
    // The read under way, which every `load()` meanwhile waits for.
    std::optional<TaskHandle> reading;
    // Bumped by every `setKey` (and store switch), so a read that was already under way
    // does not put back a key the user has just changed.
    quint64 generation = 0;
    // Set by a read that got no answer (a locked store whose prompt was dismissed, or a
    // store that never answered): such a load is not final, the next reader tries again.
    bool readFailed = false;
    bool memoryMode = false;
    MemoryStore memory;
};

State& state()
{
    static State s;
    return s;
}

// A locked collection makes the Secret Service ask the user for a password; give that
// time, but do not let a store that never answers hold its callers for ever.
constexpr std::chrono::milliseconds patience{120000};

enum class Outcome { done, failed, hung };

// Runs a job to its end. A job that finished is left for the caller to read and delete;
// one that hung deletes itself whenever it does finish, and must not be touched again.
QCoro::Task<Outcome> run(QKeychain::Job* job)
{
    job->setAutoDelete(false);
    job->setKey(account());
    // Connect before starting, so that an end the store reports at once is not missed
    // (an awaited signal is only connected once the coroutine suspends).
    bool ended = false;
    const auto watch = QObject::connect(job, &QKeychain::Job::finished, job, [&ended] { ended = true; });
    job->start();
    if (!ended) {
        const auto result = co_await qCoro(job, &QKeychain::Job::finished, patience);
        if (!result && !ended) {
            QObject::disconnect(watch);
            job->setAutoDelete(true);
            co_return Outcome::hung;
        }
    }
    QObject::disconnect(watch);
    co_return job->error() == QKeychain::NoError ? Outcome::done : Outcome::failed;
}

// The item's text when its bytes are valid UTF-8, trimmed; else nothing.
std::optional<QString> decode(const std::optional<QByteArray>& bytes)
{
    if (!bytes)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(*bytes);
    if (decoder.hasError())
        return std::nullopt;
    return Text::trimWhitespaceAndLines(text);
}

std::optional<QString> cleaned(const std::optional<QString>& value)
{
    if (!value)
        return std::nullopt;
    QString trimmed = Text::trimWhitespaceAndLines(*value);
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

} // namespace

QString service() { return QStringLiteral("app.vantorel.Vantorel"); }
QString olderService() { return QStringLiteral("app.vantorel.desktop"); }
QString account() { return QStringLiteral("openrouter"); }

QCoro::Task<std::optional<QByteArray>> readItem(QString serviceName)
{
    if (state().memoryMode) {
        ++state().memory.reads;
        if (state().memory.refuseReads) {
            state().readFailed = true;
            co_return std::nullopt;
        }
        const auto& items = state().memory.items;
        const auto it = items.find(serviceName);
        if (it == items.end())
            co_return std::nullopt;
        co_return it->second;
    }
    auto* job = new QKeychain::ReadPasswordJob(serviceName);
    const Outcome outcome = co_await run(job);
    if (outcome == Outcome::hung) {
        state().readFailed = true;
        co_return std::nullopt;
    }
    std::optional<QByteArray> data;
    if (outcome == Outcome::done)
        data = job->binaryData();
    else if (job->error() != QKeychain::EntryNotFound)
        state().readFailed = true;
    job->deleteLater();
    co_return data;
}

QCoro::Task<bool> writeItem(QString serviceName, QByteArray data)
{
    if (state().memoryMode) {
        if (state().memory.refuseWrites)
            co_return false;
        state().memory.items[serviceName] = data;
        co_return true;
    }
    // A key the user just typed reaches the store also when Quit follows at once.
    const Ending::Hold hold;
    auto* job = new QKeychain::WritePasswordJob(serviceName);
    // Text stays readable in the desktop's password manager; other bytes go as they are.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(data);
    if (decoder.hasError())
        job->setBinaryData(data);
    else
        job->setTextData(text);
    const Outcome outcome = co_await run(job);
    if (outcome == Outcome::hung)
        co_return false;
    job->deleteLater();
    co_return outcome == Outcome::done;
}

QCoro::Task<bool> removeItem(QString serviceName)
{
    if (state().memoryMode) {
        state().memory.items.erase(serviceName);
        co_return true;
    }
    const Ending::Hold hold;
    auto* job = new QKeychain::DeletePasswordJob(serviceName);
    const Outcome outcome = co_await run(job);
    if (outcome == Outcome::hung)
        co_return false;
    const bool gone = outcome == Outcome::done || job->error() == QKeychain::EntryNotFound;
    job->deleteLater();
    co_return gone;
}

namespace {
// One read of the store, for the `load()` calls of one generation.
QCoro::Task<> readStore(quint64 generation)
{
    state().readFailed = false;
    std::optional<QString> found = decode(co_await readItem(service()));
    if (!found) {
        found = decode(co_await readItem(olderService()));
        if (found && state().generation != generation) {
            // The user set a key (or removed it) while the store was read, a locked one
            // perhaps asking for its password: the old key must not take its place. It is
            // superseded, so it goes, lest a removed key come back at the next start.
            co_await removeItem(olderService());
        } else if (found) {
            // Store under the current name first; only a key that is safely there may
            // leave the old name, so a failing store never loses it. The store runs its
            // calls in the order they were made, so a key set from now on lands after
            // this one.
            bool stored = true;
            if (!found->isEmpty())
                stored = co_await writeItem(service(), found->toUtf8());
            if (stored)
                co_await removeItem(olderService());
        }
    }
    // A blank item counts as no key at all.
    if (found && found->isEmpty())
        found.reset();
    State& s = state();
    if (s.generation == generation) {
        s.key = found;
        // Without an answer the key is unknown, not absent: once the user has unlocked the
        // store, the next feature that needs the key reads it again.
        s.loaded = found.has_value() || !s.readFailed;
        s.reading.reset();
    }
}
} // namespace

QCoro::Task<> load()
{
    State& s = state();
    if (s.loaded)
        co_return;
    if (!s.reading) {
        TaskHandle::Work work = [generation = s.generation](Cancel) { return readStore(generation); };
        s.reading = TaskHandle::start(std::move(work));
    }
    const TaskHandle reading = *s.reading;
    co_await reading.done();
}

std::optional<QString> key()
{
    return state().key;
}

QCoro::Task<> setKey(std::optional<QString> value)
{
    const std::optional<QString> kept = cleaned(value);
    State& s = state();
    s.key = kept;
    s.loaded = true; // what the user sets is what the store is about to hold
    s.reading.reset();
    ++s.generation;
    // Writing replaces an item that is there, so the old key stays until the new one
    // has taken its place.
    if (kept)
        co_await writeItem(service(), kept->toUtf8());
    else
        co_await removeItem(service());
}

void forget()
{
    State& s = state();
    s.key.reset();
    s.loaded = false;
    s.reading.reset();
    ++s.generation;
}

void useMemoryStore(bool on)
{
    state().memoryMode = on;
    state().memory = {};
    forget();
}

bool usesMemoryStore()
{
    return state().memoryMode;
}

MemoryStore& memoryStore()
{
    return state().memory;
}

} // namespace Keychain
