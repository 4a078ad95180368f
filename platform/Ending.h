#pragma once

// How the windowed program ends. Quit ends the process within a moment: nothing that is
// only being read or decoded is waited for, and the program's statics are not torn down
// under threads that may still use them. What must end whole first (a file being
// written, a key handed to the key store) holds the end back while it runs.

#include <QObject>
#include <chrono>
#include <functional>

namespace Ending {

// Held while one write is under way; made and dropped on any thread.
class Hold {
public:
    Hold();
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
};

// Writes under way now.
int held();

// Calls `then` on the main thread once no write is under way (on the next turn of the event
// loop when none is), or once `patience` has passed whatever still runs (a key store may
// be waiting on a person): never when `context` is gone before.
void afterWrites(QObject* context, std::function<void()> then, std::chrono::milliseconds patience);

// Ends the process at once with `status`: the preferences are written out first, and the
// program's temporary files still in use are removed, with the file of an export under way.
[[noreturn]] void now(int status);

} // namespace Ending
