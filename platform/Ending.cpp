#include "platform/Ending.h"

#include "core/project/PackageLock.h"
#include "platform/PartialFile.h"
#include "platform/Prefs.h"
#include "platform/TempFile.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

namespace Ending {

namespace {
std::atomic<int> writes{0};

// What waits for the writes, on the main thread.
class Waiter : public QObject {
public:
    void check()
    {
        if (held() == 0)
            finish();
    }
    void finish()
    {
        if (auto then = std::exchange(pending, nullptr))
            then();
        deleteLater();
    }
    std::function<void()> pending;
    QTimer patience;
};

QPointer<Waiter>& waiting()
{
    static QPointer<Waiter> waiter;
    return waiter;
}

// A write ended: the waiter (on the main thread) looks again.
void released()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(app, [] {
        if (Waiter* waiter = waiting())
            waiter->check();
    }, Qt::QueuedConnection);
}
} // namespace

Hold::Hold()
{
    writes.fetch_add(1);
}

Hold::~Hold()
{
    if (writes.fetch_sub(1) == 1)
        released();
}

int held()
{
    return writes.load();
}

void afterWrites(QObject* context, std::function<void()> then, std::chrono::milliseconds patience)
{
    auto* waiter = new Waiter;
    waiter->pending = [context = QPointer<QObject>(context), then = std::move(then)] {
        if (context)
            then();
    };
    waiting() = waiter;
    waiter->patience.setSingleShot(true);
    QObject::connect(&waiter->patience, &QTimer::timeout, waiter, [waiter] { waiter->finish(); });
    waiter->patience.start(patience);
    // Later, also when nothing is held: the caller's own steps finish first.
    QTimer::singleShot(0, waiter, [waiter] { waiter->check(); });
}

void now(int status)
{
    Prefs::shared().sync();
    // No scope ends from here on: the temporary files that owners still hold go now.
    TempFiles::removeAll();
    // An export under way leaves nothing half-written: its file goes before it became the
    // one asked for, and ffmpeg, which still writes it, ends with us.
    PartialFile::removeAll();
    // The kernel would let go of the locks; their files beside the packages are ours to remove.
    PackageLock::releaseAll();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

} // namespace Ending
