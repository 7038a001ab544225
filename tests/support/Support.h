// The tests' one support layer: files and processes, mapisim for one scenario, the heap's blocks, the
// trace log's text and the real main dialog. Free of doctest: the fault campaign and benchmarks use it too.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <map>
#include <string>
#include <vector>

#include "MessageLoop.h"
#include "maindlg.h"

std::string TempPath(const std::string& stem);  // a fresh path for every call
bool WriteTextFile(const std::string& path, const std::string& text);
std::string ReadTextFile(const std::string& path, long from = 0);  // from byte |from| on; "" when unreadable
std::vector<std::string> SplitLines(const std::string& text);  // without "\r"
inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
inline std::string ThisProgram()
{
    char path[MAX_PATH];
    return std::string(path, GetModuleFileNameA(nullptr, path, sizeof(path)));
}
inline std::string ProgramFolder() { return ThisProgram().substr(0, ThisProgram().find_last_of('\\') + 1); }  // the programs' own
struct ProcessRun { int code; std::string out, err; };  // code 99: it did not end in time
// How a process started by RunProcess meets the world: stdout and stderr caught in files, with no
// console or on this program's console (OnConsole(), so that Ctrl+C reaches it), stdout a handle
// it cannot write to, or the console itself for both (out and err then stay empty).
enum class Io { Files, FilesOnConsole, ReadOnlyOut, Console };
// A UTF-8 command line; |whileRunning| is called every 50 ms until it returns false.
ProcessRun RunProcess(const std::string& commandLine, Io io = Io::Files, bool (*whileRunning)(void*) = nullptr, void* context = nullptr,
                      DWORD timeoutMs = 60000);
// Several at once, stdout and stderr caught in files; all started before any is waited for, each
// after the variables of its |environments| entry ("NAME=value") are set in this program's environment.
std::vector<ProcessRun> RunProcesses(const std::vector<std::string>& commandLines, const std::vector<std::vector<std::string>>& environments = {});
// This program's own console, made once; Ctrl+C on it does not end this program.
void OnConsole();
std::wstring ConsoleRow(int row);  // what the console shows on a row of its screen, trailing blanks cut
void ClearConsole();
void PressCtrlC();            // as the user does: the keys go into the console's input

// Reads JSON text back as "path value" entries: "folders.0.name" is that string's text (UTF-8),
// null, true, false and numbers stand as written, "folders.#" is an array's length. False unless
// |text| is exactly one JSON value (blanks around it allowed).
using JsonFlat = std::map<std::string, std::string>;
bool ReadJson(const std::string& text, JsonFlat& flat);

// mapisim for one scenario: the store file and the environment that points mapisim at it, MAPI
// initialised (unless another process's MAPI is meant); then the call log, report and store file.
class MapiSim {
public:
    explicit MapiSim(const std::string& storeText, bool callLog = true, bool initialize = true);
    ~MapiSim() { Finish(); }
    // Ends MAPI (mapisim writes its report then); true when no object, allocation or session is left.
    bool Finish();
    std::vector<std::string> LogLines() const { return SplitLines(ReadTextFile(logPath)); }
    std::vector<std::string> LogFrom(size_t first) const;  // from line |first| on, session numbers as N
    std::vector<std::string> Calls(const std::string& call) const;  // the log lines of one call
    std::string StoreText() const { return ReadTextFile(storePath); }
    std::string ReportText() const { return ReadTextFile(reportPath); }
    const std::string storePath, logPath, reportPath;

private:
    bool m_initialized;
};

// The folders below every finder of a store file, depth first in file order,
// read by mapisim's own parser.
// |id|: the id= bytes, or the one mapisim made; |listable|: a search folder without a container class.
struct StoreFolder { std::string name, id; bool listable; };
std::vector<StoreFolder> StoreFolders(const std::string& storeText);
std::vector<std::string> FolderNames(const std::string& storeText);

// The heap (malloc and friends are wrapped at link time).
unsigned HeapMark();
long LiveSince(unsigned mark);  // blocks allocated after |mark|, the latest one, and not freed
long BadFrees();                // frees of blocks that were not live
void FailAllocationsOfSize(size_t size, int count);  // the next |count| of exactly |size| bytes fail
// Makes what lives on once made (the window binding table, the store parser's tables), before any count.
void MakeLastingStructures();

// The test program's trace log: one file at level 3 for its whole run.
const std::string& TraceFilePath();
struct TraceSince {
    size_t start = ReadTextFile(TraceFilePath()).size();
    std::string Text() const;  // written since construction, "\r\n" as "\n"
};
// The value of the last exit line "<--name(), ret = X"; E_UNEXPECTED when there is none.
HRESULT ExitResult(const std::string& trace, const std::string& name);

struct ListRow { std::string name, path; bool selected; LPARAM data; };
std::vector<ListRow> ListRows(HWND list);
struct TreeItem { HTREEITEM item; std::string text; int image, children; LPARAM data; };
std::vector<TreeItem> TreeChildren(HWND tree, HTREEITEM parent = TVI_ROOT);

// The real main dialog from its template, hidden, its message loop
// registered as Run registers it; destroyed with its items at the end.
class MainWindow {
public:
    MainWindow();
    ~MainWindow() { Destroy(); }
    void Destroy();
    HTREEITEM Find(const std::string& path) const;  // "Profile" or "Profile/Store"
    void Select(HTREEITEM item) const { SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)); }
    void Expand(HTREEITEM item) const { Key(item, VK_ADD); }  // as the user does, with the keypad's + and -
    void Collapse(HTREEITEM item) const { Key(item, VK_SUBTRACT); }
    void Command(WORD id) const { SendMessageA(window, WM_COMMAND, id, 0); }
    void SelectRows(const std::vector<int>& rows) const;
    std::vector<std::string> Names() const;
    MainDlg dialog;
    MessageLoop loop;
    HWND window, tree, list, deleteButton;

private:
    void Key(HTREEITEM item, WORD key) const { Select(item); SendMessageA(tree, WM_KEYDOWN, key, 0); }
};
