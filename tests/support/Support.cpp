#include "Support.h"

#include <mapix.h>
#include <share.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "AppContext.h"
#include "model.h"
#include "resource.h"
#include "trace.h"

std::string TempPath(const std::string& stem)
{
    static int counter = 0;
    char folder[MAX_PATH];
    GetTempPathA(sizeof(folder), folder);
    // Wine reuses process ids from run to run: a leftover of an earlier run goes.
    std::string path = folder + ("krvn-" + std::to_string(GetCurrentProcessId())) + "-" + std::to_string(++counter) + "-" + stem;
    DeleteFileA(path.c_str());
    return path;
}

bool WriteTextFile(const std::string& path, const std::string& text)
{
    FILE* f = fopen(path.c_str(), "wb");
    bool ok = f && fwrite(text.data(), 1, text.size(), f) == text.size();
    return f && fclose(f) == 0 && ok;
}

std::string ReadTextFile(const std::string& path, long from)
{
    std::string text;
    char buffer[65536];
    if (FILE* f = _fsopen(path.c_str(), "rb", _SH_DENYNO)) {
        fseek(f, from, SEEK_SET);
        for (size_t n; (n = fread(buffer, 1, sizeof(buffer), f)) > 0;) text.append(buffer, n);
        fclose(f);
    }
    return text;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
    }
    return lines;
}

namespace {

// A process started with its stdout and stderr handles; Finish waits and reads what it wrote.
struct Started {
    std::string outPath = TempPath("out.txt"), errPath = TempPath("err.txt");
    STARTUPINFOW startup = {sizeof(startup)};
    PROCESS_INFORMATION info = {};
    bool console = false;

    void Start(const std::string& commandLine, Io io)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        startup.dwFlags = STARTF_USESTDHANDLES;
        console = io == Io::Console;
        if (console) {
            startup.hStdOutput = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
            startup.hStdError = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
        } else {
            bool readOnly = io == Io::ReadOnlyOut;
            if (readOnly) WriteTextFile(outPath, "");
            startup.hStdOutput = CreateFileA(outPath.c_str(), readOnly ? GENERIC_READ : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             &inherit, readOnly ? OPEN_EXISTING : CREATE_ALWAYS, 0, nullptr);
            startup.hStdError = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
        }
        // The arguments hold UTF-8: a wide command line keeps them whole.
        std::wstring line(commandLine.size() + 1, L'\0');
        line.resize(MultiByteToWideChar(CP_UTF8, 0, commandLine.c_str(), -1, &line[0], static_cast<int>(line.size())));
        DWORD flags = io == Io::Files || io == Io::ReadOnlyOut ? CREATE_NO_WINDOW : 0;
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup, &info)) info.hProcess = nullptr;
    }

    ProcessRun Finish(bool (*whileRunning)(void*) = nullptr, void* context = nullptr, DWORD timeoutMs = 60000)
    {
        DWORD code = 99;
        if (info.hProcess) {
            DWORD waited = 0;
            for (; waited < timeoutMs && WaitForSingleObject(info.hProcess, 50) == WAIT_TIMEOUT; waited += 50)
                if (whileRunning && !whileRunning(context)) whileRunning = nullptr;
            if (waited < timeoutMs) GetExitCodeProcess(info.hProcess, &code);
            else TerminateProcess(info.hProcess, 99);
            CloseHandle(info.hProcess);
            CloseHandle(info.hThread);
        }
        CloseHandle(startup.hStdOutput);
        CloseHandle(startup.hStdError);
        return {static_cast<int>(code), console ? "" : ReadTextFile(outPath), console ? "" : ReadTextFile(errPath)};
    }
};

} // namespace

ProcessRun RunProcess(const std::string& commandLine, Io io, bool (*whileRunning)(void*), void* context, DWORD timeoutMs)
{
    Started process;
    process.Start(commandLine, io);
    return process.Finish(whileRunning, context, timeoutMs);
}

std::vector<ProcessRun> RunProcesses(const std::vector<std::string>& commandLines, const std::vector<std::vector<std::string>>& environments)
{
    std::vector<Started> processes(commandLines.size());
    for (size_t i = 0; i < processes.size(); ++i) {
        for (const std::string& variable : i < environments.size() ? environments[i] : std::vector<std::string>())
            SetEnvironmentVariableA(variable.substr(0, variable.find('=')).c_str(), variable.substr(variable.find('=') + 1).c_str());
        processes[i].Start(commandLines[i], Io::Files);
    }
    std::vector<ProcessRun> runs;
    for (Started& process : processes) runs.push_back(process.Finish());
    return runs;
}

namespace {

void Flatten(const nlohmann::json& value, const std::string& path, JsonFlat& flat)
{
    if (value.is_structured()) {
        flat[path + "#"] = std::to_string(value.size());
        size_t i = 0;
        for (auto it = value.begin(); it != value.end(); ++it, ++i)
            Flatten(*it, path + (value.is_object() ? it.key() : std::to_string(i)) + ".", flat);
        return;
    }
    flat[path.substr(0, path.empty() ? 0 : path.size() - 1)] = value.is_string() ? value.get<std::string>() : value.dump();
}

} // namespace

bool ReadJson(const std::string& text, JsonFlat& flat)
{
    flat.clear();
    nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
    if (value.is_discarded()) return false;
    Flatten(value, "", flat);
    return true;
}

namespace {

BOOL WINAPI IgnoreCtrl(DWORD) { return TRUE; }

HANDLE ConsoleHandle(const char* name)
{
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

} // namespace

void OnConsole()
{
    static bool made = [] {
        FreeConsole();  // whatever Wine gave this program, a console of its own
        SetConsoleCtrlHandler(IgnoreCtrl, TRUE);  // a handler, not NULL: children would inherit the NULL one
        return AllocConsole() != FALSE;
    }();
    (void)made;
}

std::wstring ConsoleRow(int row)
{
    HANDLE out = ConsoleHandle("CONOUT$");
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    GetConsoleScreenBufferInfo(out, &info);
    std::wstring text(info.dwSize.X, L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(out, &text[0], info.dwSize.X, {0, static_cast<SHORT>(row)}, &read);
    text.erase(text.find_last_not_of(L' ') + 1);
    CloseHandle(out);
    return text;
}

void ClearConsole()
{
    HANDLE out = ConsoleHandle("CONOUT$");
    DWORD written = 0;
    FillConsoleOutputCharacterW(out, L' ', 200 * 100, {0, 0}, &written);
    SetConsoleCursorPosition(out, {0, 0});
    CloseHandle(out);
}

void PressCtrlC()
{
    HANDLE in = ConsoleHandle("CONIN$");
    INPUT_RECORD key = {KEY_EVENT, {}};
    key.Event.KeyEvent = {TRUE, 1, 'C', 0, {3}, LEFT_CTRL_PRESSED};
    DWORD written = 0;
    WriteConsoleInputW(in, &key, 1, &written);
    CloseHandle(in);
}

MapiSim::MapiSim(const std::string& storeText, bool callLog, bool initialize)
    : storePath(TempPath("store.txt")), logPath(TempPath("calls.log")), reportPath(TempPath("report.txt"))
{
    WriteTextFile(storePath, storeText);
    SetEnvironmentVariableA("MAPISIM_STORE", storePath.c_str());
    SetEnvironmentVariableA("MAPISIM_LOG", callLog ? logPath.c_str() : nullptr);
    SetEnvironmentVariableA("MAPISIM_REPORT", reportPath.c_str());
    m_initialized = initialize && SUCCEEDED(MAPIInitialize(nullptr));
}

bool MapiSim::Finish()
{
    if (m_initialized) MAPIUninitialize();
    m_initialized = false;
    std::string report = ReportText();
    return Contains(report, "live_objects=0\nlive_allocations=0\nsessions_open=0\n") && Contains(report, "\nmisuses=0\n");
}

std::vector<std::string> MapiSim::LogFrom(size_t first) const
{
    std::vector<std::string> lines = LogLines();
    lines.erase(lines.begin(), lines.begin() + std::min(first, lines.size()));
    for (std::string& line : lines)  // sessions are numbered for the whole process
        for (size_t at = line.find("session="); at != std::string::npos; at = line.find("session=", at + 1))
            line.replace(at + 8, line.find(' ', at) - at - 8, "N");
    return lines;
}

std::vector<std::string> MapiSim::Calls(const std::string& call) const
{
    std::vector<std::string> out;
    for (const std::string& line : LogLines())
        if (line.compare(0, call.size() + 1, call + " ") == 0) out.push_back(line);
    return out;
}

std::vector<StoreFolder> StoreFolders(const std::string& storeText)
{
    std::vector<StoreFolder> folders;
    mapisim::Model model;
    std::string error;
    std::vector<const mapisim::Node*> stack;
    if (model.Parse(storeText, error))
        for (auto profile = model.profiles().rbegin(); profile != model.profiles().rend(); ++profile)
            for (auto store = (*profile)->children.rbegin(); store != (*profile)->children.rend(); ++store)
                if ((*store)->finder) stack.insert(stack.end(), (*store)->finder->children.rbegin(), (*store)->finder->children.rend());
    while (!stack.empty()) {
        const mapisim::Node* node = stack.back();
        stack.pop_back();
        folders.push_back({node->name, node->id, node->search && !node->hasClass});
        stack.insert(stack.end(), node->children.rbegin(), node->children.rend());
    }
    return folders;
}

std::vector<std::string> FolderNames(const std::string& storeText)
{
    std::vector<std::string> names;
    for (const StoreFolder& folder : StoreFolders(storeText)) names.push_back(folder.name);
    return names;
}

const std::string& TraceFilePath()
{
    static const std::string path = [] {
        std::string file = TempPath("trace.log");
        TraceSetAppTag("SV");
        TraceSetLevel(TRACE_CALL);
        TraceOpenFile(file.c_str());
        return file;
    }();
    return path;
}

std::string TraceSince::Text() const
{
    std::string text = ReadTextFile(TraceFilePath(), static_cast<long>(start));
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

HRESULT ExitResult(const std::string& trace, const std::string& name)
{
    std::string marker = "<--" + name + "(), ret = ";
    size_t at = trace.rfind(marker);
    return at == std::string::npos ? E_UNEXPECTED : HRESULT(strtoul(trace.c_str() + at + marker.size(), nullptr, 16));
}

std::vector<ListRow> ListRows(HWND list)
{
    std::vector<ListRow> rows(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        LVITEMA item = {LVIF_PARAM | LVIF_STATE, i};
        item.stateMask = LVIS_SELECTED;
        SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        rows[i].selected = (item.state & LVIS_SELECTED) != 0;
        rows[i].data = item.lParam;
        for (std::string* text : {&rows[i].name, &rows[i].path}) {
            text->assign(20000, '\0');
            item.iSubItem = text == &rows[i].name ? 0 : 1;
            item.pszText = &(*text)[0];
            item.cchTextMax = static_cast<int>(text->size());
            text->resize(SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item)));
        }
    }
    return rows;
}

std::vector<TreeItem> TreeChildren(HWND tree, HTREEITEM parent)
{
    std::vector<TreeItem> items;
    auto next = [&](WPARAM how, HTREEITEM from) {
        return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(from)));
    };
    for (HTREEITEM item = next(parent == TVI_ROOT ? TVGN_ROOT : TVGN_CHILD, parent); item; item = next(TVGN_NEXT, item)) {
        char text[1024] = "";
        TVITEMA query = {TVIF_TEXT | TVIF_IMAGE | TVIF_CHILDREN | TVIF_PARAM, item, 0, 0, text, sizeof(text)};
        SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query));
        items.push_back({item, text, query.iImage, query.cChildren, query.lParam});
    }
    return items;
}

void MakeLastingStructures()
{
    { MainWindow window; }
    StoreFolders("profile P fail=Logon:0x80004005\n");
}

MainWindow::MainWindow()
{
    g_app.AddMessageLoop(&loop);
    window = dialog.Create(nullptr, IDD_MAINDLG);
    tree = GetDlgItem(window, IDC_STORES_TREE);
    list = GetDlgItem(window, IDC_SEARCH_LIST);
    deleteButton = GetDlgItem(window, IDC_DELETE);
}

void MainWindow::Destroy()
{
    if (window && IsWindow(window)) DestroyWindow(window);
    window = nullptr;
    if (g_app.GetMessageLoop() == &loop) g_app.RemoveMessageLoop();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.message != WM_QUIT) DispatchMessageA(&msg);
}

HTREEITEM MainWindow::Find(const std::string& path) const
{
    size_t slash = path.find('/');
    for (const TreeItem& profile : TreeChildren(tree))
        if (profile.text == path.substr(0, slash)) {
            if (slash == std::string::npos) return profile.item;
            for (const TreeItem& store : TreeChildren(tree, profile.item))
                if (store.text == path.substr(slash + 1)) return store.item;
        }
    return nullptr;
}

void MainWindow::SelectRows(const std::vector<int>& rows) const
{
    LVITEMA item = {};
    item.stateMask = item.state = LVIS_SELECTED;
    for (int row : rows) SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

std::vector<std::string> MainWindow::Names() const
{
    std::vector<std::string> names;
    for (const ListRow& row : ListRows(list)) names.push_back(row.name);
    return names;
}
