// The trace log: its configuration from the INI file, the shape of its
// lines, its levels, its file with the fallback names, and the caller's
// last-error value.
#include <doctest/doctest.h>

#include <windows.h>

#include "Scenario.h"
#include "trace.h"

namespace {

// The log's lines, each without its time of day ("HH:MM:SS") where it has one.
std::vector<std::string> Lines(const std::string& log)
{
    std::vector<std::string> lines = SplitLines(ReadTextFile(log));
    for (std::string& line : lines)
        if (line.size() > 9 && line[2] == ':' && line[5] == ':' && line[8] == ' ' && isdigit(line[0]) && isdigit(line[7]))
            line = "T" + line.substr(8);
    return lines;
}

void Configure(const std::string& log, int level)
{
    TraceOpenFile(log.c_str());
    TraceSetLevel(level);
    TraceSetAppTag("SV");
}

} // namespace

TEST_CASE("before any configuration a call line is written at level 3 with an empty tag")
{
    std::string log = TempPath("unconfigured.log");  // a fresh process: nothing is configured there
    REQUIRE(RunProcess("\"" + ThisProgram() + "\" --trace-unconfigured \"" + log + "\"").code == 0);
    CHECK(Lines(log) == std::vector<std::string>{"T C[-maindlg.cpp:29] -->OnInitDialog()", "<--OnInitDialog()"});
}

TEST_CASE("the INI file sets level and file; a bare name is found in the Windows folder; no file means level 0")
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    std::string log = TempPath("ini.log"), name = "krvn-test-" + std::to_string(GetCurrentProcessId()) + ".ini";
    WriteTextFile(windows + ("\\" + name), "[SV]\r\nDebugLevel=4\r\nDebugFile=" + log + "\r\n");  // 4 counts as 3
    TraceInit("SV", name.c_str());
    DeleteFileA((windows + ("\\" + name)).c_str());
    TraceFormat("C:\\src\\Korvane\\maindlg.cpp", 29, TRACE_CALL, "");
    { TraceCall call("OnInitDialog"); }
    CHECK(Lines(log) == std::vector<std::string>{"T C[SV-maindlg.cpp:29] -->OnInitDialog()", "<--OnInitDialog()"});
    TraceInit("SV", TempPath("absent.ini").c_str());
    CHECK(TraceSetLevel(3) == 0);
}

TEST_CASE("each level writes its own lines and those below it")
{
    std::string log = TempPath("levels.log");
    Configure(log, 0);
    for (int level = 0; level <= 3; ++level) {
        TraceSetLevel(level);
        TraceFormat("x.cpp", level, TRACE_ERROR, "e\n");
        TraceFormat("x.cpp", level, TRACE_WARNING, "w\n");
        TraceFormat("x.cpp", level, TRACE_DEBUG, "d\n");
        TracePrint(TRACE_CALL, "c%d\n", level);
    }
    CHECK(Lines(log) == std::vector<std::string>{"T E[SV-x.cpp:0] e",
                                                 "T E[SV-x.cpp:1] e", "T W[SV-x.cpp:1] w",
                                                 "T E[SV-x.cpp:2] e", "T W[SV-x.cpp:2] w", "T D[SV-x.cpp:2] d",
                                                 "T E[SV-x.cpp:3] e", "T W[SV-x.cpp:3] w", "T D[SV-x.cpp:3] d", "c3"});
}

TEST_CASE("line shape: base names, letters, exit lines with results; texts are never formats and never overflow")
{
    std::string log = TempPath("shape.log");
    Configure(log, 3);
    TraceFormat("C:\\a\\b\\utlis.cpp", 69, TRACE_ERROR, "GetProps() failed: hr=%lx\n", 0x8004010FUL);
    TraceFormat("build/Korvane/maindlg.cpp", 1, TRACE_WARNING, "w\n");  // '/' is not a separator
    TraceFormat("plain.cpp", 2, TRACE_DEBUG, "d %d %s %02d\n", -5, "text", 7);
    TraceFormat("head.cpp", 3, TRACE_CALL, "");
    {
        HRESULT hr = S_OK;
        TraceCallRet call("GetFinder", hr);
        hr = E_FAIL;
    }
    TracePrint(TRACE_CALL, "-->%s()\n", "name %s %n %d %%");
    TraceFormat("f.cpp", 1, TRACE_ERROR, "%s\n", std::string(10000, 'x').c_str());
    std::vector<std::string> lines = Lines(log);
    REQUIRE(lines.size() == 7);
    CHECK(std::vector<std::string>(lines.begin(), lines.end() - 1) ==
          std::vector<std::string>{"T E[SV-utlis.cpp:69] GetProps() failed: hr=8004010f", "T W[SV-build/Korvane/maindlg.cpp:1] w",
                                   "T D[SV-plain.cpp:2] d -5 text 07", "T C[SV-head.cpp:3] -->GetFinder()",
                                   "<--GetFinder(), ret = 80004005", "-->name %s %n %d %%()"});
    CHECK(lines[6].size() > 1000);  // wvsprintfA stops at 1024 characters
    CHECK(lines[6].size() < 1100);
    CHECK(ReadTextFile(log).find("\r\n") != std::string::npos);  // text mode on disk
}

TEST_CASE("the log file is emptied at start; held by others, the next free name x.log0, x.log1 is taken")
{
    std::string log = TempPath("held.log");
    WriteTextFile(log, "old contents\n");
    TraceOpenFile(log.c_str());
    TracePrint(TRACE_ERROR, "new\n");
    CHECK(ReadTextFile(log) == "new\r\n");
    TraceOpenFile(TempPath("other.log").c_str());  // lets go of |log| for the holders

    // Held as another trace log holds its file: others may read it, not write it.
    HANDLE held[2];
    for (int i = 0; i < 2; ++i)
        held[i] = CreateFileA((log + (i ? "0" : "")).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    TraceOpenFile(log.c_str());
    TracePrint(TRACE_ERROR, "fallback\n");
    CHECK(ReadTextFile(log) + ReadTextFile(log + "0") == "");
    CHECK(ReadTextFile(log + "1") == "fallback\r\n");
    for (HANDLE file : held) CloseHandle(file);
    // A folder that cannot be written: no file under any name, and nothing else goes wrong.
    std::string nowhere = "C:\\no-such-folder-" + std::to_string(GetCurrentProcessId()) + "\\x.log";
    TraceOpenFile(nowhere.c_str());
    TracePrint(TRACE_ERROR, "only to the debugger\n");
    for (const char* suffix : {"", "0", "99"})
        CHECK(GetFileAttributesA((nowhere + suffix).c_str()) == INVALID_FILE_ATTRIBUTES);
}

TEST_CASE("no trace call changes the caller's last-error value")
{
    std::string log = TempPath("lasterror.log");
    for (int level : {0, 3}) {
        Configure(log, level);
        SetLastError(1234);
        TraceFormat("f.cpp", 1, TRACE_CALL, "");
        TraceFormat("f.cpp", 1, TRACE_ERROR, "e %lx\n", 1UL);
        TracePrint(TRACE_CALL, "p\n");
        {
            HRESULT hr = S_OK;
            TraceCallRet call("x", hr);
            TraceCall other("y");
        }
        TraceOpenFile("C:\\no-such-folder\\z.log");
        CHECK(GetLastError() == 1234);
    }
}
