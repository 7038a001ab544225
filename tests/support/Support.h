// The tests' one support layer: files and processes, mapisim for one
// scenario, the heap's count of blocks, the trace log's text and the real
// main dialog. Free of doctest, so the fault campaign and the benchmarks use it too.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "MessageLoop.h"
#include "maindlg.h"

// Files and processes.
std::string TempPath(const std::string& stem);  // a fresh path for every call
bool WriteTextFile(const std::string& path, const std::string& text);
std::string ReadTextFile(const std::string& path);  // "" when unreadable
std::vector<std::string> SplitLines(const std::string& text);  // without "\r"
bool Contains(const std::string& text, const std::string& part);
std::string ThisProgram();
std::string ProgramFolder();  // where the other programs are built, with its final backslash
// The trace log's INI file: section SV with a level and a log file.
void WriteIni(const std::string& path, int level, const std::string& logFile);
struct ProcessRun {
    int code;  // 99 when it did not end in time
    std::string out, err;
};
// Runs a UTF-8 command line with stdout and stderr going to files.
ProcessRun RunProcess(const std::string& commandLine, unsigned timeoutMs = 60000);
HANDLE StartProcess(const std::string& commandLine);

// mapisim for one scenario: the store file, the environment that points
// mapisim at it, MAPI initialised; then the call log, the report and the
// store file as they are afterwards.
class MapiSim {
public:
    explicit MapiSim(const std::string& storeText, bool callLog = true);
    ~MapiSim() { Finish(); }
    // Uninitialises MAPI (mapisim writes its report then); true when the report is clean:
    // no live objects, allocations or sessions.
    bool Finish();
    std::string Log() const { return ReadTextFile(logPath); }
    std::vector<std::string> LogLines() const { return SplitLines(Log()); }
    std::vector<std::string> Calls(const std::string& call) const;  // the log lines of one call
    std::string StoreText() const { return ReadTextFile(storePath); }
    std::string ReportText() const { return ReadTextFile(reportPath); }
    const std::string storePath, logPath, reportPath;
    HRESULT initResult;

private:
    bool m_initialized;
};

// The folders below every finder of a store file, depth first in file order,
// read by mapisim's own parser.
struct StoreFolder {
    std::string name, id;  // UTF-8; the id= bytes, or the identifier mapisim made
    bool listable;         // a search folder without a container class
};
std::vector<StoreFolder> StoreFolders(const std::string& storeText);
std::vector<std::string> FolderNames(const std::string& storeText);

// The heap blocks of this program (malloc and friends are wrapped at link time).
struct HeapCounts {
    long live, frees, badFrees;  // badFrees: frees of blocks that are not live
};
HeapCounts GetHeapCounts();
unsigned HeapMark();
long LiveSince(unsigned mark);  // blocks allocated after |mark| and not freed
void FailAllocationsOfSize(size_t size, int count);  // the next |count| of exactly |size| bytes fail

// The trace log of the test program: one file at level 3 for its whole run.
const std::string& TraceFilePath();
struct TraceSince {
    size_t start = ReadTextFile(TraceFilePath()).size();
    std::string Text() const;  // written since construction, "\r\n" as "\n"
};
// The value of the last exit line "<--name(), ret = X"; E_UNEXPECTED when there is none.
HRESULT ExitResult(const std::string& trace, const std::string& name);

// Rows of a list control, and items of a tree control.
struct ListRow {
    std::string name, path;
    bool selected;
    LPARAM data;
};
std::vector<ListRow> ListRows(HWND list);
struct TreeItem {
    HTREEITEM item;
    std::string text;
    int image, children;
    LPARAM data;
};
std::vector<TreeItem> TreeChildren(HWND tree, HTREEITEM parent = TVI_ROOT);

// The real main dialog from its template, hidden, its message loop
// registered as Run registers it; destroyed with its items at the end.
class MainWindow {
public:
    MainWindow();
    ~MainWindow() { Destroy(); }
    void Destroy();
    // "Profile" or "Profile/Store"; null when not in the tree.
    HTREEITEM Find(const std::string& path) const;
    void Select(HTREEITEM item) const;
    // As the user does it, with the keypad's + and - on the item.
    void Expand(HTREEITEM item) const;
    void Collapse(HTREEITEM item) const;
    // A key press as the loop sees it: to the focus, through the dialog's filter.
    void Press(WORD key, bool control = false);
    void Command(WORD id, WORD code = BN_CLICKED) const;
    void SelectRows(const std::vector<int>& rows) const;
    std::vector<std::string> Names() const;
    MainDlg dialog;
    MessageLoop loop;
    HWND window = nullptr, tree = nullptr, list = nullptr, deleteButton = nullptr;
};
