// The trace log: configuration from the INI file, line shape, levels, the
// log file with its fallback names, and the caller's last-error value.
#include <doctest/doctest.h>

#include <windows.h>

#include <string>

#include "TestFiles.h"
#include "trace.h"

namespace {

std::string WindowsDirectory()
{
    char folder[MAX_PATH];
    GetWindowsDirectoryA(folder, sizeof(folder));
    return folder;
}

// Writes an INI file and configures the trace log from it.
void ConfigureFrom(const std::string& iniPath, const std::string& contents, const char* iniName = nullptr)
{
    WriteTextFile(iniPath, contents);
    TraceInit("SV", iniName ? iniName : iniPath.c_str());
}

std::string Disk(const std::string& path)
{
    return ReadTextFile(path);
}

// Matches "HH:MM:SS " at the start of |line|.
bool StartsWithTime(const std::string& line)
{
    if (line.size() < 9) return false;
    for (int i : {0, 1, 3, 4, 6, 7})
        if (line[i] < '0' || line[i] > '9') return false;
    return line[2] == ':' && line[5] == ':' && line[8] == ' ';
}

} // namespace

TEST_CASE("a trace call before configuration is written at level 3 with an empty tag")
{
    // A fresh process, so that nothing configured the trace log yet.
    std::string log = TempPath("unconfigured.log");
    int code = RunProcess("\"" + ThisProgram() + "\" --trace-unconfigured \"" + log + "\"", 30000);
    REQUIRE(code == 0);
    std::string text = Disk(log);
    CHECK(StartsWithTime(text));
    CHECK(text.substr(8) == " C[-maindlg.cpp:29] -->OnInitDialog()\r\n<--OnInitDialog()\r\n");
}

TEST_CASE("INI configuration: level, file, the bare name in the Windows folder, defaults")
{
    SUBCASE("a bare INI name is looked for in the Windows folder")
    {
        std::string log = TempPath("bare.log");
        std::string name = "krvn-test-" + std::to_string(GetCurrentProcessId()) + ".ini";
        ConfigureFrom(WindowsDirectory() + "\\" + name, "[SV]\r\nDebugLevel=3\r\nDebugFile=" + log + "\r\n", name.c_str());
        TraceFormat("C:\\src\\Korvane\\maindlg.cpp", 29, TRACE_CALL, "");
        { TraceCall call("OnInitDialog"); }
        DeleteFileA((WindowsDirectory() + "\\" + name).c_str());
        std::vector<std::string> lines = SplitLines(Disk(log));
        REQUIRE(lines.size() == 2);
        CHECK(StartsWithTime(lines[0]));
        CHECK(lines[0].substr(8) == " C[SV-maindlg.cpp:29] -->OnInitDialog()");
        CHECK(lines[1] == "<--OnInitDialog()");
    }
    SUBCASE("no INI file: level 0, no log file")
    {
        std::string ini = TempPath("absent.ini");
        TraceInit("SV", ini.c_str());
        CHECK(TraceSetLevel(0) == 0);
    }
    SUBCASE("DebugLevel 4 behaves as 3; 0 writes errors only")
    {
        std::string log = TempPath("levels.log");
        ConfigureFrom(TempPath("levels.ini"), "[SV]\nDebugLevel=4\nDebugFile=" + log + "\n");
        TracePrint(TRACE_CALL, "call\n");
        TraceSetLevel(0);
        TracePrint(TRACE_WARNING, "warning\n");
        TracePrint(TRACE_DEBUG, "debug\n");
        TracePrint(TRACE_CALL, "hidden call\n");
        TraceFormat("x.cpp", 7, TRACE_ERROR, "GetProps() failed: hr=%lx\n", 0x80004005UL);
        TraceSetLevel(1);
        TracePrint(TRACE_WARNING, "warning shown\n");
        std::vector<std::string> lines = SplitLines(Disk(log));
        REQUIRE(lines.size() == 3);
        CHECK(lines[0] == "call");
        CHECK(lines[1].substr(8) == " E[SV-x.cpp:7] GetProps() failed: hr=80004005");
        CHECK(lines[2] == "warning shown");
    }
}

TEST_CASE("line shape: base names, letters, empty format, exit lines with results")
{
    std::string log = TempPath("shape.log");
    TraceOpenFile(log.c_str());
    TraceSetLevel(3);
    TraceSetAppTag("SV");
    TraceFormat("C:\\a\\b\\utlis.cpp", 69, TRACE_ERROR, "GetProps() failed: hr=%lx\n", 0x8004010FUL);
    TraceFormat("build/Korvane/maindlg.cpp", 1, TRACE_WARNING, "w\n");
    TraceFormat("plain.cpp", 2, TRACE_DEBUG, "d %d %s %02d\n", -5, "text", 7);
    TraceFormat("head.cpp", 3, TRACE_CALL, "");
    {
        HRESULT hr = S_OK;
        TraceCallRet call("GetFinder", hr);
        hr = E_FAIL;
    }
    std::string text = Disk(log);
    std::vector<std::string> lines = SplitLines(text);
    REQUIRE(lines.size() == 5);
    CHECK(lines[0].substr(8) == " E[SV-utlis.cpp:69] GetProps() failed: hr=8004010f");
    CHECK(lines[1].substr(8) == " W[SV-build/Korvane/maindlg.cpp:1] w");  // '/' is not a separator
    CHECK(lines[2].substr(8) == " D[SV-plain.cpp:2] d -5 text 07");
    CHECK(lines[3].substr(8) == " C[SV-head.cpp:3] -->GetFinder()");  // the header alone ends in a blank
    CHECK(lines[4] == "<--GetFinder(), ret = 80004005");
    CHECK(Contains(text, "\r\n"));  // text mode on disk
    CHECK_FALSE(Contains(text, "\r\r"));
}

TEST_CASE("message text is never taken as a format, and long texts stay within the buffer")
{
    std::string log = TempPath("percent.log");
    TraceOpenFile(log.c_str());
    TraceSetLevel(3);
    TracePrint(TRACE_CALL, "-->%s()\n", "name %s %n %d %%");
    std::string huge(10000, 'x');
    TraceFormat("f.cpp", 1, TRACE_ERROR, "%s\n", huge.c_str());
    std::vector<std::string> lines = SplitLines(Disk(log));
    REQUIRE(lines.size() >= 2);
    CHECK(lines[0] == "-->name %s %n %d %%()");
    // wvsprintfA writes at most 1024 characters: the line is cut, nothing overflows.
    CHECK(lines[1].size() < 1100);
    CHECK(lines[1].size() > 1000);
}

TEST_CASE("the log file: emptied at start, fallback names when another process holds it")
{
    SUBCASE("an existing file is emptied")
    {
        std::string log = TempPath("old.log");
        WriteTextFile(log, "old contents\n");
        TraceOpenFile(log.c_str());
        TracePrint(TRACE_ERROR, "new\n");
        CHECK(Disk(log) == "new\r\n");
    }
    SUBCASE("held by a second process: x.log0, then x.log1")
    {
        std::string log = TempPath("held.log");
        for (const char* suffix : {"0", "1"}) DeleteFileA((log + suffix).c_str());  // left by an earlier run
        HANDLE first = nullptr, second = nullptr;
        REQUIRE(RunProcess("\"" + ThisProgram() + "\" --hold \"" + log + "\" 20", 0, reinterpret_cast<void**>(&first)) == 0);
        REQUIRE(RunProcess("\"" + ThisProgram() + "\" --hold \"" + log + "0\" 20", 0, reinterpret_cast<void**>(&second)) == 0);
        // Wait until both hold their files.
        for (int i = 0; i < 200 && (Disk(log).empty() || Disk(log + "0").empty()); ++i) Sleep(50);
        TraceOpenFile(log.c_str());
        TracePrint(TRACE_ERROR, "fallback\n");
        CHECK(Disk(log) == "held\r\n");
        CHECK(Disk(log + "0") == "held\r\n");
        CHECK(Disk(log + "1") == "fallback\r\n");
        TerminateProcess(first, 0);
        TerminateProcess(second, 0);
        CloseHandle(first);
        CloseHandle(second);
    }
    SUBCASE("a folder that cannot be written: no file, nothing reported, the debugger channel goes on")
    {
        std::string log = "C:\\no-such-folder-" + std::to_string(GetCurrentProcessId()) + "\\x.log";
        TraceOpenFile(log.c_str());
        TracePrint(TRACE_ERROR, "only to the debugger\n");
        CHECK_FALSE(FileExists(log));
        CHECK_FALSE(FileExists(log + "0"));
        CHECK_FALSE(FileExists(log + "99"));
    }
}

TEST_CASE("no trace call changes the caller's last-error value")
{
    std::string log = TempPath("lasterror.log");
    TraceOpenFile(log.c_str());
    for (int level : {0, 3}) {
        TraceSetLevel(level);
        SetLastError(1234);
        TraceFormat("f.cpp", 1, TRACE_CALL, "");
        CHECK(GetLastError() == 1234);
        TraceFormat("f.cpp", 1, TRACE_ERROR, "e %lx\n", 1UL);
        CHECK(GetLastError() == 1234);
        TracePrint(TRACE_CALL, "p\n");
        CHECK(GetLastError() == 1234);
        {
            HRESULT hr = S_OK;
            TraceCallRet call("x", hr);
            CHECK(GetLastError() == 1234);
        }
        { TraceCall call("y"); }
        CHECK(GetLastError() == 1234);
        // Even opening a file that cannot be opened leaves it alone.
        TraceOpenFile("C:\\no-such-folder\\z.log");
        CHECK(GetLastError() == 1234);
        TraceOpenFile(log.c_str());
    }
}
