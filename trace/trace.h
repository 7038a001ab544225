// Leveled trace log: every line goes to the debugger channel and, when the
// INI file names one, to a log file. Configured once at start-up by TraceInit.
#pragma once
#include <windows.h>

enum TraceLevel { TRACE_ERROR = 0, TRACE_WARNING = 1, TRACE_DEBUG = 2, TRACE_CALL = 3 };

void TraceInit(const char* section, const char* iniFile);
int TraceSetLevel(int level);
void TraceSetAppTag(const char* tag);
void TraceOpenFile(const char* fileName);
void TraceFormat(const char* sourceFile, int line, int level, const char* format, ...);
void TracePrint(int level, const char* format, ...);
void TraceWrite(const char* text);

// Writes "-->name()" on construction and "<--name()" at every exit of the scope.
class TraceCall {
public:
    explicit TraceCall(const char* name);
    ~TraceCall();
    TraceCall(const TraceCall&) = delete;
    TraceCall& operator=(const TraceCall&) = delete;
private:
    const char* m_name;
};

// Like TraceCall, but the exit line also shows the caller's result variable
// as it stands when the scope is left.
class TraceCallRet {
public:
    TraceCallRet(const char* name, HRESULT& result);
    ~TraceCallRet();
    TraceCallRet(const TraceCallRet&) = delete;
    TraceCallRet& operator=(const TraceCallRet&) = delete;
private:
    const char* m_name;
    HRESULT& m_result;
};

// The header of an entry line; the TraceCall or TraceCallRet made next completes the line.
struct TraceEntryHeader {
    TraceEntryHeader(const char* sourceFile, int line) { TraceFormat(sourceFile, line, TRACE_CALL, ""); }
};

// The call-trace pattern: a header with this source line, completed by the entry text.
#define TRACE_CALL(name) TRACE_CALL_AT(__LINE__, name)
#define TRACE_CALL_RET(name, result) \
    TraceFormat(__FILE__, __LINE__, TRACE_CALL, ""); \
    TraceCallRet traceCall_(name, result)
// The same with a line number that the log format fixes, whatever line the code stands on.
#define TRACE_CALL_AT(line, name) \
    TraceFormat(__FILE__, line, TRACE_CALL, ""); \
    TraceCall traceCall_(name)
#define TRACE_CALL_RET_AT(line, name, result) \
    TraceFormat(__FILE__, line, TRACE_CALL, ""); \
    TraceCallRet traceCall_(name, result)
// One failure line at level 0, e.g. TRACE_FAILED("GetProps", hr).
#define TRACE_FAILED(call, hr) \
    TraceFormat(__FILE__, __LINE__, TRACE_ERROR, call "() failed: hr=%lx\n", (unsigned long)(hr))
#define TRACE_ERROR_LINE(format, hr) \
    TraceFormat(__FILE__, __LINE__, TRACE_ERROR, format, (unsigned long)(hr))
