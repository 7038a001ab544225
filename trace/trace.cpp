#include "trace.h"

#include <share.h>
#include <stdio.h>

namespace {

const int kLineBuffer = 8192;

int g_level = TRACE_CALL;
const char* g_appTag = "";
FILE* g_file = nullptr;

// Saves the thread's last-error value and puts it back when the scope ends,
// so that tracing between a failed call and GetLastError changes nothing.
class LastErrorKeeper {
public:
    LastErrorKeeper() : m_saved(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(m_saved); }
private:
    DWORD m_saved;
};

const char* LevelLetter(int level)
{
    switch (level) {
    case TRACE_ERROR: return "E";
    case TRACE_WARNING: return "W";
    case TRACE_DEBUG: return "D";
    case TRACE_CALL: return "C";
    default: return "?";
    }
}

const char* BaseName(const char* path)
{
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\') base = p + 1;
    return base;
}

FILE* OpenShared(const char* name)
{
    // Text mode; others may read the file but not write it.
    return _fsopen(name, "wt", _SH_DENYWR);
}

} // namespace

void TraceInit(const char* section, const char* iniFile)
{
    TraceSetAppTag(section);
    TraceSetLevel(static_cast<int>(GetPrivateProfileIntA(section, "DebugLevel", 0, iniFile)));
    char fileName[256] = "";
    GetPrivateProfileStringA(section, "DebugFile", "", fileName, sizeof(fileName), iniFile);
    if (fileName[0]) TraceOpenFile(fileName);
}

int TraceSetLevel(int level)
{
    int previous = g_level;
    g_level = level;
    return previous;
}

void TraceSetAppTag(const char* tag)
{
    g_appTag = tag ? tag : "";
}

void TraceOpenFile(const char* fileName)
{
    LastErrorKeeper keep;
    if (g_file) {  // configured again: the earlier file is let go
        fclose(g_file);
        g_file = nullptr;
    }
    FILE* file = OpenShared(fileName);
    char fallback[260];
    for (int i = 0; !file && i < 100; ++i) {
        if (_snprintf(fallback, sizeof(fallback), "%s%d", fileName, i) < 0) break;
        fallback[sizeof(fallback) - 1] = '\0';
        file = OpenShared(fallback);
    }
    g_file = file;
}

void TraceFormat(const char* sourceFile, int line, int level, const char* format, ...)
{
    LastErrorKeeper keep;
    if (level > g_level) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char buffer[kLineBuffer];
    int used = wsprintfA(buffer, "%02d:%02d:%02d %s[%s-%s:%d] ", now.wHour, now.wMinute,
                         now.wSecond, LevelLetter(level), g_appTag, BaseName(sourceFile), line);
    if (used < 0) used = 0;
    va_list args;
    va_start(args, format);
    wvsprintfA(buffer + used, format, args);
    va_end(args);
    TraceWrite(buffer);
}

void TracePrint(int level, const char* format, ...)
{
    LastErrorKeeper keep;
    if (level > g_level) return;
    char buffer[kLineBuffer];
    va_list args;
    va_start(args, format);
    wvsprintfA(buffer, format, args);
    va_end(args);
    TraceWrite(buffer);
}

void TraceWrite(const char* text)
{
    OutputDebugStringA(text);
    if (g_file) {
        fprintf(g_file, "%s", text);
        fflush(g_file);
    }
}

TraceCall::TraceCall(const char* name) : m_name(name)
{
    TracePrint(TRACE_CALL, "-->%s()\n", m_name);
}

TraceCall::~TraceCall()
{
    TracePrint(TRACE_CALL, "<--%s()\n", m_name);
}

TraceCallRet::TraceCallRet(const char* name, HRESULT& result) : m_name(name), m_result(result)
{
    TracePrint(TRACE_CALL, "-->%s()\n", m_name);
}

TraceCallRet::~TraceCallRet()
{
    TracePrint(TRACE_CALL, "<--%s(), ret = %lx\n", m_name, static_cast<unsigned long>(m_result));
}
