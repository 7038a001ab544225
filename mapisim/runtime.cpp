#include "runtime.h"

#include <stdio.h>
#include <stdlib.h>

namespace mapisim {

namespace {

const DWORD kMagicBlock = 0x4D534942;  // "MSIB"
const DWORD kMagicMore = 0x4D53494D;   // "MSIM"

// Every allocation carries this header; AllocateMore blocks are chained to
// their parent and freed with it.
struct alignas(16) BlockHeader {
    DWORD magic;
    ULONG size;
    BlockHeader* more;  // chain of AllocateMore blocks
};

BlockHeader* HeaderOf(void* buffer)
{
    return reinterpret_cast<BlockHeader*>(buffer) - 1;
}

} // namespace

Runtime& rt()
{
    static Runtime* runtime = new Runtime();  // lives until process exit
    return *runtime;
}

ObjectBase::ObjectBase(const char* interfaceName) : interface_(interfaceName)
{
    rt().liveObjects.insert(this);
}

ObjectBase::~ObjectBase()
{
    rt().liveObjects.erase(this);
}

void ObjectBase::Bury()
{
    const size_t kKept = 10000;
    Runtime& r = rt();
    dead_ = true;
    r.liveObjects.erase(this);
    r.graveyard.push_back(this);
    if (r.graveyard.size() > kKept) {
        delete r.graveyard.front();
        r.graveyard.pop_front();
    }
}

void ObjectBase::Misused(const char* call) const
{
    std::string about = description();
    std::string line = std::string("object=") + interface_ + (about.empty() ? "" : " " + about) + " call=" + call;
    rt().misuses.push_back(line);
    LogCall(std::string("Misuse ") + line, E_UNEXPECTED);
}

std::string Quote(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') { out += "\\n"; continue; }
        if (c == '\r') { out += "\\r"; continue; }
        out += c;
    }
    return out + "\"";
}

std::string Hex(ULONG value)
{
    char buffer[16];
    snprintf(buffer, sizeof(buffer), "0x%08lX", static_cast<unsigned long>(value));
    return buffer;
}

void LogCall(const std::string& nameAndFields, HRESULT result)
{
    if (rt().latencyUs > 0) {
        // Spin rather than sleep: a sleep lasts at least a scheduler tick.
        LARGE_INTEGER frequency, start, now;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        do QueryPerformanceCounter(&now);
        while ((now.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart < rt().latencyUs);
    }
    FILE* log = rt().log;
    if (!log) return;
    fprintf(log, "%s -> %s\n", nameAndFields.c_str(), Hex(static_cast<ULONG>(result)).c_str());
    fflush(log);
}

bool Injected(const Node* node, const char* call, HRESULT& hr)
{
    if (!node) return false;
    int n = ++rt().callCounts[{node->pathHash * 8 + static_cast<unsigned long long>(node->kind), call}];
    for (const Fault& fault : node->faults) {
        if (fault.call == call && (fault.nth == 0 || fault.nth == n)) {
            hr = fault.hr;
            return true;
        }
    }
    return false;
}

bool ReadFileText(const std::string& path, std::string& text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    text.clear();
    char buffer[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof(buffer), &got, nullptr) != FALSE) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    return ok;
}

StoreTurn::StoreTurn()
{
    Runtime& r = rt();
    if (r.storePath.empty()) return;
    // One turn at a time: the lock file is held alone and goes when its holder lets go (while it goes,
    // opening it is refused as access denied).
    const std::string lock = r.storePath + ".mapisim-lock";
    for (DWORD waited = 0; waited < 60000; waited += 2) {
        lock_ = CreateFileA(lock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        DWORD error = GetLastError();
        if (lock_ != INVALID_HANDLE_VALUE || (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)) break;
        Sleep(2);
    }
    std::string text;
    // Once this process made its change to what another wrote, its model is no longer the file.
    bool read = ReadFileText(r.storePath, text);
    changed_ = !read || text != r.storeText || !r.modelIsFile;
    if (!changed_) return;
    std::string error;
    current_.reset(new Model());
    if (text.empty() || !current_->Parse(text, error)) current_.reset();
}

StoreTurn::~StoreTurn()
{
    if (lock_ != INVALID_HANDLE_VALUE) CloseHandle(lock_);
}

bool StoreTurn::Write(const std::string& text)
{
    Runtime& r = rt();
    if (r.storePath.empty() || (changed_ && !current_)) return false;
    std::string temp = r.storePath + ".mapisim-tmp";
    HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
              written == text.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (!ok || !MoveFileExA(temp.c_str(), r.storePath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temp.c_str());
        return false;
    }
    r.storeText = text;
    r.modelIsFile &= !changed_;
    return true;
}

void WriteReport()
{
    Runtime& r = rt();
    r.reportWritten = true;
    if (r.reportPath.empty()) return;
    std::string text;
    text += "live_objects=" + std::to_string(r.liveObjects.size()) + "\n";
    text += "live_allocations=" + std::to_string(r.liveAllocations.size()) + "\n";
    text += "sessions_open=" + std::to_string(r.openSessions.size()) + "\n";
    text += "logons=" + std::to_string(r.logons) + "\n";
    text += "logoffs=" + std::to_string(r.logoffs) + "\n";
    text += "folders_deleted=" + std::to_string(r.foldersDeleted) + "\n";
    text += "misuses=" + std::to_string(r.misuses.size()) + "\n";
    if (!r.loadError.empty()) text += "error=" + r.loadError + "\n";
    for (ObjectBase* object : r.liveObjects) {
        text += std::string("leak object=") + object->interfaceName();
        std::string description = object->description();
        if (!description.empty()) text += " " + description;
        text += "\n";
    }
    for (const auto& block : r.liveAllocations)
        text += "leak allocation size=" + std::to_string(block.second) + "\n";
    for (int session : r.openSessions) text += "leak session=" + std::to_string(session) + "\n";
    for (const std::string& misuse : r.misuses) text += "misuse " + misuse + "\n";
    // Plain kernel32 calls: this may run at process detach.
    HANDLE file = CreateFileA(r.reportPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

SCODE Allocate(ULONG size, void** out)
{
    if (!out) return MAPI_E_INVALID_PARAMETER;
    BlockHeader* header = static_cast<BlockHeader*>(calloc(1, sizeof(BlockHeader) + size));
    if (!header) return MAPI_E_NOT_ENOUGH_MEMORY;
    header->magic = kMagicBlock;
    header->size = size;
    header->more = nullptr;
    *out = header + 1;
    rt().liveAllocations[*out] = size;
    return S_OK;
}

SCODE AllocateMore(ULONG size, void* parent, void** out)
{
    if (!out || !parent) return MAPI_E_INVALID_PARAMETER;
    BlockHeader* owner = HeaderOf(parent);
    if (owner->magic != kMagicBlock) return MAPI_E_INVALID_PARAMETER;
    BlockHeader* header = static_cast<BlockHeader*>(calloc(1, sizeof(BlockHeader) + size));
    if (!header) return MAPI_E_NOT_ENOUGH_MEMORY;
    header->magic = kMagicMore;
    header->size = size;
    header->more = owner->more;
    owner->more = header;
    *out = header + 1;
    return S_OK;
}

ULONG FreeBuffer(void* buffer)
{
    if (!buffer) return S_OK;
    auto it = rt().liveAllocations.find(buffer);
    if (it == rt().liveAllocations.end()) return S_OK;  // not ours, or freed already
    rt().liveAllocations.erase(it);
    BlockHeader* header = HeaderOf(buffer);
    BlockHeader* more = header->more;
    while (more) {
        BlockHeader* next = more->more;
        more->magic = 0;
        free(more);
        more = next;
    }
    header->magic = 0;
    free(header);
    return S_OK;
}

} // namespace mapisim
