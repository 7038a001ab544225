// The seven functions that mapi32.dll forwards to the mail client's MAPI DLL.
#include <windows.h>
#include <mapix.h>

#include <stdio.h>
#include <stdlib.h>

#include "objects.h"
#include "runtime.h"

using namespace mapisim;

namespace {

std::string Environment(const char* name)
{
    char buffer[1024];
    DWORD length = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
    if (length == 0 || length >= sizeof(buffer)) return std::string();
    return std::string(buffer, length);
}

// "/x/y" names Z:\x\y; anything else is a Windows path already.
std::string WindowsPath(const std::string& path)
{
    if (path.empty() || path[0] != '/') return path;
    std::string out = "Z:" + path;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

// Loads the store file named by MAPISIM_STORE; a bad or missing file gives
// an empty model and the reason for the report.
void LoadEnvironment()
{
    Runtime& r = rt();
    if (r.log) {
        fclose(r.log);
        r.log = nullptr;
    }
    std::string logPath = WindowsPath(Environment("MAPISIM_LOG"));
    if (!logPath.empty()) r.log = fopen(logPath.c_str(), "ab");
    r.reportPath = WindowsPath(Environment("MAPISIM_REPORT"));
    r.storePath = WindowsPath(Environment("MAPISIM_STORE"));
    r.latencyUs = atol(Environment("MAPISIM_LATENCY_US").c_str());
    r.loadError.clear();
    r.logons = r.logoffs = r.foldersDeleted = 0;

    auto model = std::make_shared<Model>();
    std::string text;
    if (r.storePath.empty()) r.loadError = "MAPISIM_STORE is not set";
    else if (!ReadFileText(r.storePath, text)) r.loadError = "cannot read " + r.storePath;
    else model->Parse(text, r.loadError);
    r.storeText = text;
    r.modelIsFile = true;
    if (!r.loadError.empty()) {
        // Nothing of a bad file is served: no profiles at all.
        model = std::make_shared<Model>();
        std::string ignored;
        model->Parse("", ignored);
    }
    r.model = model;
}

} // namespace

extern "C" {

HRESULT WINAPI MAPIInitialize(LPVOID init)
{
    Runtime& r = rt();
    HRESULT hr = S_OK;
    if (r.initCount == 0) {
        LoadEnvironment();
        r.reportWritten = false;
        Injected(r.model->mapi(), "MAPIInitialize", hr);
    }
    if (SUCCEEDED(hr)) ++r.initCount;
    LogCall("MAPIInitialize init=" + std::string(init ? "nonnull" : "null") + " count=" + std::to_string(r.initCount), hr);
    return hr;
}

void WINAPI MAPIUninitialize(void)
{
    Runtime& r = rt();
    if (r.initCount == 0) {
        LogCall("MAPIUninitialize count=0", MAPI_E_NOT_INITIALIZED);  // nothing to undo
        return;
    }
    --r.initCount;
    LogCall("MAPIUninitialize count=" + std::to_string(r.initCount), S_OK);
    if (r.initCount == 0) {
        WriteReport();
        r.model.reset();  // objects still alive keep their own reference
    }
}

HRESULT WINAPI MAPIAdminProfiles(ULONG flags, LPPROFADMIN* admin)
{
    Runtime& r = rt();
    HRESULT hr = S_OK;
    if (r.initCount == 0) hr = MAPI_E_NOT_INITIALIZED;
    else if (!Injected(r.model->mapi(), "MAPIAdminProfiles", hr)) {
        if (!admin) hr = MAPI_E_INVALID_PARAMETER;
        else *admin = NewProfAdmin(r.model);
    }
    LogCall("MAPIAdminProfiles flags=" + Hex(flags), hr);
    return hr;
}

HRESULT WINAPI MAPILogonEx(ULONG_PTR ui, LPSTR profileName, LPSTR password, ULONG flags, LPMAPISESSION* session)
{
    Runtime& r = rt();
    HRESULT hr = S_OK;
    // With MAPI_UNICODE the name is a UTF-16 string; the log shows it in UTF-8.
    bool unicode = (flags & MAPI_UNICODE) != 0;
    std::string name = !profileName ? "" : unicode ? Utf8FromWide(reinterpret_cast<const wchar_t*>(profileName)) : profileName;
    int number = 0;
    if (r.initCount == 0) {
        hr = MAPI_E_NOT_INITIALIZED;
    } else {
        Node* profile = unicode ? r.model->FindProfileByName(name) : r.model->FindProfile(name);
        if (!profile) hr = MAPI_E_LOGON_FAILED;
        else if (!Injected(profile, "Logon", hr)) {
            if (!session) hr = MAPI_E_INVALID_PARAMETER;
            else {
                number = r.nextSession++;
                *session = NewSession(r.model, profile, number);
                r.openSessions.insert(number);
                ++r.logons;
            }
        }
    }
    LogCall("MAPILogonEx profile=" + Quote(name) + " ui=" + Hex(static_cast<ULONG>(ui)) + " password=" +
                (password ? Quote(password) : std::string("null")) + " flags=" + Hex(flags) +
                " session=" + (number ? std::to_string(number) : std::string("none")), hr);
    return hr;
}

SCODE WINAPI MAPIAllocateBuffer(ULONG size, LPVOID* buffer)
{
    SCODE sc = rt().initCount == 0 ? MAPI_E_NOT_INITIALIZED : Allocate(size, buffer);
    LogCall("MAPIAllocateBuffer size=" + std::to_string(size), sc);
    return sc;
}

SCODE WINAPI MAPIAllocateMore(ULONG size, LPVOID parent, LPVOID* buffer)
{
    SCODE sc = rt().initCount == 0 ? MAPI_E_NOT_INITIALIZED : AllocateMore(size, parent, buffer);
    LogCall("MAPIAllocateMore size=" + std::to_string(size) + " parent=" + (parent ? "nonnull" : "null"), sc);
    return sc;
}

ULONG WINAPI MAPIFreeBuffer(LPVOID buffer)
{
    return FreeBuffer(buffer);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    // Only bookkeeping here: the loader lock is held.
    if (reason == DLL_PROCESS_DETACH && !rt().reportWritten) WriteReport();
    return TRUE;
}

} // extern "C"
