#pragma once

// The OpenRouter API key in the desktop's key store (the Secret Service, through
// QtKeychain), with a copy in memory so that the rest of the program can read it
// synchronously. The store is asynchronous: `load()` reads it once per run (every reader
// of the key awaits it first) and `setKey()` writes through to it; `key()` answers from
// memory.

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>
#include <map>
#include <optional>

namespace Keychain {

// The item: a secret with this service name and account name.
QString service(); // "app.vantorel.Vantorel"
// Where earlier versions kept the key; moved over the first time it is found there.
QString olderService(); // "app.vantorel.desktop"
QString account(); // "openrouter"

// Reads the key into memory once: the current item, trimmed; else the older item, which
// is moved to the current name (and removed from the old one only once that stored);
// else nothing. Callers that come while the read is under way wait for that same read;
// once it has ended (or a key was set), every call returns at once. Never throws; a store
// that fails reads as holding nothing. A `setKey` made while the read runs wins over what
// it reads.
QCoro::Task<> load();

// The key in memory: nothing before `load()` has finished, or when none is kept.
std::optional<QString> key();

// Trims white space and line breaks from both ends; a blank or absent value removes the
// key. Memory changes at once; the store is written afterwards and its failures ignored.
QCoro::Task<> setKey(std::optional<QString> value);

// ---- the items themselves (also for tests) ----

// The bytes of a service's item, or nothing when it is absent or cannot be read.
QCoro::Task<std::optional<QByteArray>> readItem(QString serviceName);
// True when the item now holds `data`.
QCoro::Task<bool> writeItem(QString serviceName, QByteArray data);
// True when the item is gone afterwards (also when there was none).
QCoro::Task<bool> removeItem(QString serviceName);

// ---- for tests ----

// Forgets the key in memory, as when the program starts anew: the next `load()` reads the
// store again.
void forget();

// An in-memory store, for tests that must not need a Secret Service.
struct MemoryStore {
    std::map<QString, QByteArray> items; // service name → the item's bytes
    bool refuseWrites = false;           // every write fails (removing still works)
    int reads = 0;                       // items asked for so far
    bool refuseReads = false;            // every read fails, as a locked store whose prompt was dismissed
};

// Switches between the Secret Service (off, the default) and the in-memory store (on).
// Either way the store starts empty from the program's point of view: the key in
// memory is forgotten and the in-memory store is cleared.
void useMemoryStore(bool on);
bool usesMemoryStore();
MemoryStore& memoryStore();

} // namespace Keychain
