// mapisim's process-wide state: the loaded model, the call log, the report,
// MAPI's allocator with its accounting, and the registry of live objects.
#pragma once
#include <windows.h>
#include <mapix.h>

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "model.h"

namespace mapisim {

// Every COM object of mapisim registers itself while it lives.
class ObjectBase {
public:
    explicit ObjectBase(const char* interfaceName);
    virtual ~ObjectBase();
    const char* interfaceName() const { return interface_; }
    // What the report and the log call the object, made when asked: a deep
    // folder's path is long, and thousands of objects may be open at once.
    virtual std::string description() const = 0;
    // The last reference is gone. The object is kept a while as dead, so
    // that a client's call on it afterwards is noted instead of reaching
    // freed memory.
    void Bury();
    bool dead() const { return dead_; }
    // Notes a call the client should not have made (on a dead object, a second Logoff).
    void Misused(const char* call) const;
private:
    const char* interface_;
    bool dead_ = false;
};

struct Runtime {
    int initCount = 0;
    std::shared_ptr<Model> model;
    std::string loadError;
    std::string reportPath;
    FILE* log = nullptr;
    bool reportWritten = true;
    long logons = 0;
    long logoffs = 0;
    long foldersDeleted = 0;
    int nextSession = 1;
    std::set<int> openSessions;
    std::set<ObjectBase*> liveObjects;
    std::deque<ObjectBase*> graveyard;        // dead objects, oldest first, kept for a while
    std::vector<std::string> misuses;         // "object=… call=…" of calls a client should not make
    std::map<void*, ULONG> liveAllocations;   // MAPIAllocateBuffer blocks and their sizes
    std::string storePath;                    // Windows path of the store file
    std::string storeText;                    // what this process last read from it or wrote to it
    bool modelIsFile = true;                  // the model is what the file holds (no other process wrote to it)
    // Calls per object and call name, for fail=CALL:HR@N; they count for the
    // whole process, across initialisations (objects are known by their kind
    // and the hash of their path).
    std::map<std::pair<unsigned long long, std::string>, int> callCounts;
    // MAPISIM_LATENCY_US: each logged call takes this long, as a call to a
    // mail server takes a round trip (for benchmarks of online stores).
    long latencyUs = 0;
};

Runtime& rt();

// Appends one line to the call log: "Name fields -> 0xHHHHHHHH".
void LogCall(const std::string& nameAndFields, HRESULT result);
std::string Quote(const std::string& text);
std::string Hex(ULONG value);

// Counts a call of |call| on |node| and tells whether a fail= attribute makes it fail.
bool Injected(const Node* node, const char* call, HRESULT& hr);

// The whole of a file, read while others may write it; false when it cannot be read.
bool ReadFileText(const std::string& path, std::string& text);

// A turn at the store file, for a change to it. Several processes may serve
// one store file at once, as several clients reach one server: each change
// takes a turn (a lock file beside the store file), and where another process
// rewrote the file since this one read or wrote it, the change is made to
// what the file holds now (Current(), its folders found by identifiers) and
// that is written, so that neither process undoes the other's changes.
class StoreTurn {
public:
    StoreTurn();
    ~StoreTurn();
    StoreTurn(const StoreTurn&) = delete;
    StoreTurn& operator=(const StoreTurn&) = delete;
    // Whether another process rewrote the file since this one read or wrote it.
    bool Changed() const { return changed_; }
    // What the file holds now, where Changed(); null where it cannot be read.
    Model* Current() const { return current_.get(); }
    // Replaces the store file with |text|, atomically; false when it cannot.
    bool Write(const std::string& text);

private:
    HANDLE lock_ = INVALID_HANDLE_VALUE;
    bool changed_ = false;
    std::unique_ptr<Model> current_;
};

void WriteReport();

// MAPI's allocator, used by the exports and by the objects alike.
SCODE Allocate(ULONG size, void** out);
SCODE AllocateMore(ULONG size, void* parent, void** out);
ULONG FreeBuffer(void* buffer);

} // namespace mapisim
