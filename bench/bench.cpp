// Korvane's own cost next to the MAPI calls and list rows it has to make:
// the scan and the deletion against bare loops making the same calls, the
// cost of tracing, start-up against a bare dialog program, memory and growth.
// Prints key=value lines; scripts/bench.sh turns them into the table.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <psapi.h>

#include <stdio.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "AppContext.h"
#include "MailData.h"
#include "StoreScan.h"
#include "Support.h"
#include "resource.h"
#include "trace.h"
#include "utlis.h"

namespace {

double Now()
{
    static LARGE_INTEGER frequency = [] { LARGE_INTEGER f; QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Stats {
    double median, low, high;
};

Stats Summarise(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples.front(), samples.back()};
}

void Print(const std::string& key, double value)
{
    printf("%s=%.6g\n", key.c_str(), value);
    fflush(stdout);
}

void PrintStats(const std::string& key, const Stats& s)
{
    Print(key + "_median_s", s.median);
    Print(key + "_min_s", s.low);
    Print(key + "_max_s", s.high);
}

std::string ReadStore(const std::string& dir, const std::string& name)
{
    return ReadTextFile(dir + "\\" + name);
}

// A plain list-view with two columns and redrawing off: the floor's list.
HWND MakePlainList()
{
    HWND parent = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 800, 600, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    HWND list = CreateWindowA(WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0, 600, 500,
                              parent, nullptr, GetModuleHandleA(nullptr), nullptr);
    for (int i = 0; i < 2; ++i) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.cx = i ? 100 : 180;
        column.pszText = const_cast<char*>(i ? "Path" : "Folder");
        SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    return list;
}

// The bare walk: the same MAPI calls as the scan, the same rows, nothing else.
void BareVisit(HWND list, LPMAPIFOLDER folder, const std::string& path)
{
    PropTags<4> tags = {4, {kTagDisplayName, kTagFolderType, kTagEntryId, kTagContainerClass}};
    ULONG count = 0;
    LPSPropValue props = nullptr;
    if (FAILED(folder->GetProps(tags.get(), 0, &count, &props))) return;
    if (props[1].Value.l == 2 && props[3].ulPropTag != kTagContainerClass) {
        LVITEMA item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        item.iItem = INT_MAX;
        item.pszText = props[0].Value.lpszA;
        item.lParam = 1;
        int index = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        LVITEMA sub = {};
        sub.iSubItem = 1;
        sub.pszText = const_cast<char*>(path.c_str());
        SendMessageA(list, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&sub));
    }
    LPMAPITABLE table = nullptr;
    if (SUCCEEDED(folder->GetHierarchyTable(0, &table))) {
        PropTags<7> columns = {7, {kTagEntryId, kTagDisplayName, PR_OBJECT_TYPE, PR_DEPTH, PR_DISPLAY_TYPE, PR_STATUS, PR_COMMENT_A}};
        table->SetColumns(columns.get(), 0);
        std::string subPath = path + "/" + props[0].Value.lpszA;
        for (;;) {
            LPSRowSet rows = nullptr;
            if (FAILED(table->QueryRows(20, 0, &rows)) || rows->cRows == 0) {
                FreeRowSet(rows);
                break;
            }
            for (ULONG i = 0; i < rows->cRows; ++i) {
                ULONG type = 0;
                LPMAPIFOLDER sub = nullptr;
                const SBinary& id = rows->aRow[i].lpProps[0].Value.bin;
                if (SUCCEEDED(folder->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, MAPI_MODIFY, &type,
                                                reinterpret_cast<LPUNKNOWN*>(&sub)))) {
                    BareVisit(list, sub, subPath);
                    sub->Release();
                }
            }
            FreeRowSet(rows);
        }
        table->Release();
    }
    MAPIFreeBuffer(props);
}

void BareScan(HWND list, LPMAPISESSION session, const std::string& storeId)
{
    LPMDB store = nullptr;
    if (FAILED(session->OpenMsgStore(0, static_cast<ULONG>(storeId.size()), reinterpret_cast<LPENTRYID>(const_cast<char*>(storeId.data())),
                                     nullptr, 0x84, &store)))
        return;
    LPMAPIFOLDER finder = nullptr;
    if (SUCCEEDED(GetFinder(store, &finder))) {
        BareVisit(list, finder, "");
        finder->Release();
    }
    store->Release();
}

int CountOf(const std::string& text, const std::string& part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

// A session of the first profile, and the identifier of its first store.
LPMAPISESSION LogonFirst(std::string& storeId)
{
    std::vector<ProfileRow> profiles;
    std::vector<StoreRow> stores;
    SessionRef session;
    if (FAILED(ReadProfiles(profiles)) || profiles.empty() || FAILED(Logon(profiles[0], session)) ||
        FAILED(ReadStores(session.Get(), stores)) || stores.empty())
        return nullptr;
    storeId = stores[0].entryId;
    return session.Detach();
}

// One store loaded in mapisim, logged on, with Korvane's list and the bare one.
struct ScanBench {
    explicit ScanBench(const std::string& text) : sim(text)
    {
        SetEnvironmentVariableA("MAPISIM_LOG", nullptr);
        session = LogonFirst(storeId);
        list = ui.list;
        profile = ui.Find("Profile 00");
        Select(profile);
        SendMessageA(ui.tree, WM_KEYDOWN, VK_ADD, 0);
        store = ui.Find("Profile 00/Mailbox");
        plain = MakePlainList();
    }
    ~ScanBench()
    {
        DestroyWindow(GetParent(plain));
        ui.Destroy();
        session->Logoff(0, 0, 0);
        session->Release();
        sim.Finish();
    }
    void Select(HTREEITEM item) { SendMessageA(ui.tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)); }
    // The scan as the user starts it: the store selected in the tree (the
    // profile first, which empties the list outside the time taken).
    double Korvane()
    {
        Select(profile);
        double t = Now();
        Select(store);
        return Now() - t;
    }
    double Bare()
    {
        SendMessageA(plain, LVM_DELETEALLITEMS, 0, 0);
        double t = Now();
        BareScan(plain, session, storeId);
        return Now() - t;
    }
    int Rows() const { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

    MapiSim sim;
    MainWindow ui;
    LPMAPISESSION session = nullptr;
    std::string storeId;
    HWND list = nullptr, plain = nullptr;
    HTREEITEM profile = nullptr, store = nullptr;
};

void ScanFigures(const std::string& dir, const std::string& name, const std::string& label, int runs)
{
    ScanBench bench(ReadStore(dir, name));
    bench.Korvane();
    bench.Bare();
    std::vector<double> korvane, bare;
    for (int i = 0; i < runs; ++i) {
        korvane.push_back(bench.Korvane());
        bare.push_back(bench.Bare());
    }
    Stats k = Summarise(korvane), b = Summarise(bare);
    PrintStats("scan_korvane_" + label, k);
    PrintStats("scan_bare_" + label, b);
    Print("scan_ratio_" + label, k.median / b.median);
    int folders = std::stoi(label);
    Print("scan_overhead_us_per_folder_" + label, (k.median - b.median) / folders * 1e6);
    Print("scan_us_per_folder_" + label, k.median / folders * 1e6);
    Print("scan_rows_" + label, bench.Rows());
}

// What Korvane's tracing costs beyond the platform: the level-3 scan against
// its floor, the level-0 scan plus every chunk written at level 3 times the
// measured cost of one chunk on each sink (the debugger channel and the file).
void TraceFigures(const std::string& dir, int runs)
{
    ScanBench bench(ReadStore(dir, "scan_10000.store"));
    std::string log = TempPath("bench-trace.log");
    std::vector<double> quiet, traced;
    bench.Korvane();
    size_t chunks = 0;
    for (int i = 0; i < runs; ++i) {
        TraceSetLevel(0);
        quiet.push_back(bench.Korvane());
        TraceSetLevel(3);
        TraceSince since;
        traced.push_back(bench.Korvane());
        if (i == 0) {
            // Each entry line is two chunks (header, entry text); exit and error lines one each.
            std::string text = since.Text();
            chunks = 2 * CountOf(text, "-->") + CountOf(text, "<--") + CountOf(text, " E[");
        }
    }
    TraceSetLevel(0);
    Stats q = Summarise(quiet), t = Summarise(traced);
    PrintStats("trace_level0", q);
    PrintStats("trace_level3", t);
    Print("trace_ratio", t.median / q.median);
    // The two sinks of one chunk, measured alone.
    const int samples = 20000;
    const char* chunk = "12:00:00 C[SV-SearchFoldersListViewCtrl.cpp:150] -->BuildSearchList()\n";
    double start = Now();
    for (int i = 0; i < samples; ++i) OutputDebugStringA(chunk);
    double debuggerUs = (Now() - start) / samples * 1e6;
    FILE* file = fopen(log.c_str(), "wt");
    start = Now();
    for (int i = 0; i < samples; ++i) {
        fprintf(file, "%s", chunk);
        fflush(file);
    }
    double fileUs = (Now() - start) / samples * 1e6;
    fclose(file);
    Print("trace_debugger_channel_us_per_chunk", debuggerUs);
    Print("trace_file_us_per_chunk", fileUs);
    Print("trace_chunks_per_scan", static_cast<double>(chunks));
    double floor = q.median + chunks * (debuggerUs + fileUs) / 1e6;
    Print("trace_floor_s", floor);
    Print("trace_floor_ratio", t.median / floor);
}

// krvn's scan of a 10,000-folder finder: the deep table against the dialog's
// walk, in MAPI calls (mapisim's call log) and in time.
void KrvnFigures(const std::string& dir, int runs)
{
    std::string text = ReadStore(dir, "scan_10000.store");
    auto scan = [&](bool exactWalk, bool callLog, size_t* calls, const char* latencyUs = nullptr) {
        SetEnvironmentVariableA("MAPISIM_LATENCY_US", latencyUs);
        MapiSim sim(text, callLog);
        SetEnvironmentVariableA("MAPISIM_LATENCY_US", nullptr);
        std::string storeId;
        SessionRef session(LogonFirst(storeId));
        std::vector<Found> found;
        std::vector<Damage> damage;
        Collector collector(found, damage, 0, nullptr);
        ScanStep step;
        size_t before = sim.LogLines().size();
        double t = Now();
        ScanStoreFast(session.Get(), storeId, collector, &step, exactWalk);
        t = Now() - t;
        if (calls) *calls = sim.LogLines().size() - before;
        session.Reset();
        sim.Finish();
        return t;
    };
    size_t fastCalls = 0, walkCalls = 0;
    scan(false, true, &fastCalls);
    scan(true, true, &walkCalls);
    // With each call a round trip of 0.2 ms to a server, as against a mailbox in
    // online mode, and in process, where a call costs next to nothing.
    std::vector<double> fast, walk, fastLocal, walkLocal;
    for (int i = 0; i < runs; ++i) {
        fast.push_back(scan(false, false, nullptr, "200"));
        walk.push_back(scan(true, false, nullptr, "200"));
        fastLocal.push_back(scan(false, false, nullptr));
        walkLocal.push_back(scan(true, false, nullptr));
    }
    Stats f = Summarise(fast), w = Summarise(walk), fl = Summarise(fastLocal), wl = Summarise(walkLocal);
    Print("krvn_calls_fast_10000", static_cast<double>(fastCalls));
    Print("krvn_calls_walk_10000", static_cast<double>(walkCalls));
    Print("krvn_calls_per_folder_fast", fastCalls / 10000.0);
    Print("krvn_calls_per_folder_walk", walkCalls / 10000.0);
    PrintStats("krvn_scan_fast_10000", f);
    PrintStats("krvn_scan_walk_10000", w);
    Print("krvn_scan_ratio_fast_to_walk", f.median / w.median);
    PrintStats("krvn_scan_fast_in_process_10000", fl);
    PrintStats("krvn_scan_walk_in_process_10000", wl);
    Print("krvn_scan_ratio_fast_to_walk_in_process", fl.median / wl.median);
}

// krvn deleting 10,000 search folders that share their parent, as a process: every MAPI call of the
// run (logon, scan, deletion) per folder deleted, without a backup (the parent is opened once) and
// with one (each folder opened and its criteria read before the deletions); then the restore of
// 1,000 of them from that backup. The times include mapisim's rewriting of its store file after
// every change, which a mail client's store does not do.
void KrvnDeleteFigures()
{
    const std::string krvn = "\"" + ProgramFolder() + "krvn.exe\" ";
    std::string text = "profile P default\n  store S default\n    folder Inbox\n    finder F\n";
    for (int i = 0; i < 10000; ++i) text += "      folder \"CRM Search " + std::to_string(i) + "\" search criteria=exist(subject) scope=Inbox\n";
    const std::string backup = TempPath("bench-backup.jsonl");
    std::string deleted;
    for (const char* kind : {"delete", "delete_backup"}) {
        MapiSim sim(text, true, false);
        double start = Now();
        ProcessRun run = RunProcess(krvn + "delete --all --format csv " + (kind[6] ? "--backup \"" + backup + "\"" : "--no-backup"),
                                    Io::Files, nullptr, nullptr, 3600000);
        std::string key = std::string("krvn_") + kind;
        Print(key + "_s", Now() - start);
        Print(key + "_exit_code", run.code);
        Print(key + "_calls_10000_siblings", static_cast<double>(sim.LogLines().size()));
        Print(key + "_calls_per_folder", sim.LogLines().size() / static_cast<double>(std::max<size_t>(1, sim.Calls("DeleteFolder").size())));
        deleted = sim.StoreText();
    }
    Print("krvn_backup_bytes_per_folder", ReadTextFile(backup).size() / 10000.0);
    MapiSim sim(deleted, true, false);
    double start = Now();
    ProcessRun run = RunProcess(krvn + "restore --format csv --name \"CRM Search 1???\" --from \"" + backup + "\"", Io::Files, nullptr,
                                nullptr, 3600000);
    Print("krvn_restore_1000_s", Now() - start);
    Print("krvn_restore_exit_code", run.code);
    Print("krvn_restore_calls_per_folder", sim.LogLines().size() / static_cast<double>(std::max<size_t>(1, sim.Calls("SetSearchCriteria").size())));
}

// --criteria on 1,000 search folders that search 3 distinct folders: the MAPI calls it adds per
// folder, as the difference between two runs of krvn list, with it and without.
void KrvnCriteriaFigures()
{
    std::string text = "profile P default\n  store S default\n    folder Inbox\n    folder Sent\n    folder Projects\n    finder F\n";
    for (int i = 0; i < 1000; ++i)
        text += "      folder \"CRM Search " + std::to_string(i) + "\" search criteria=\"and(exist(subject), prop(importance >= 1))\" "
                "scope=Inbox;Sent;Projects\n";
    size_t calls[2];
    for (int criteria = 0; criteria < 2; ++criteria) {
        MapiSim sim(text, true, false);
        RunProcess("\"" + ProgramFolder() + "krvn.exe\" list --format csv" + (criteria ? " --criteria" : ""));
        calls[criteria] = sim.LogLines().size();
    }
    Print("krvn_criteria_calls_1000", static_cast<double>(calls[1] - calls[0]));
    Print("krvn_criteria_calls_per_folder", (calls[1] - calls[0]) / 1000.0);
}

void MemoryFigures(const std::string& dir)
{
    PROCESS_MEMORY_COUNTERS before = {sizeof(before)}, after = {sizeof(after)};
    ScanBench bench(ReadStore(dir, "scan_20000.store"));
    SendMessageA(bench.list, LVM_DELETEALLITEMS, 0, 0);
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));
    bench.Korvane();
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));
    Print("peak_memory_bytes_20000", static_cast<double>(after.PeakWorkingSetSize));
    Print("bytes_per_search_folder_20000",
          (static_cast<double>(after.PagefileUsage) - static_cast<double>(before.PagefileUsage)) / bench.Rows());
}

// Deletion of every row of a fresh copy of the store, Korvane's way and the bare way.
double DeleteRun(const std::string& text, bool korvane)
{
    ScanBench bench(text);
    if (korvane) {
        bench.Korvane();
        SendMessageA(bench.ui.window, WM_COMMAND, IDC_SELECT_ALL, 0);
        double t = Now();
        SendMessageA(bench.ui.window, WM_COMMAND, IDC_DELETE, 0);
        return Now() - t;
    }
    // The bare loop keeps each row's identifier as its item data, as a plain program would.
    std::vector<std::string> ids;
    {
        bench.Korvane();
        int rows = bench.Rows();
        for (int i = 0; i < rows; ++i) {
            LVITEMA item = {};
            item.mask = LVIF_PARAM;
            item.iItem = i;
            SendMessageA(bench.list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
            const SBinary* record = reinterpret_cast<const SBinary*>(item.lParam);
            ids.emplace_back(reinterpret_cast<const char*>(record->lpb), record->cb);
        }
        for (int i = 0; i < rows; ++i) {
            LVITEMA item = {};
            item.mask = LVIF_TEXT | LVIF_PARAM;
            item.iItem = i;
            item.pszText = const_cast<char*>("x");
            item.lParam = i;
            SendMessageA(bench.plain, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
            LVITEMA state = {};
            state.stateMask = state.state = LVIS_SELECTED;
            SendMessageA(bench.plain, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
        }
    }
    LPMDB store = nullptr;
    double t = Now();
    bench.session->OpenMsgStore(0, static_cast<ULONG>(bench.storeId.size()), reinterpret_cast<LPENTRYID>(&bench.storeId[0]),
                                nullptr, 0x84, &store);
    HWND owner = GetParent(bench.plain);
    for (;;) {
        int index = static_cast<int>(SendMessageA(bench.plain, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
        if (index < 0) break;
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = index;
        SendMessageA(bench.plain, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        std::string& id = ids[item.lParam];
        ULONG type = 0;
        LPMAPIFOLDER folder = nullptr, parent = nullptr;
        store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(&id[0]), nullptr, 1, &type,
                         reinterpret_cast<LPUNKNOWN*>(&folder));
        GetParentFolder(store, folder, &parent);
        folder->Release();
        parent->DeleteFolder(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(&id[0]),
                             static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(owner)), nullptr, 6);
        parent->Release();
        SendMessageA(bench.plain, LVM_DELETEITEM, index, 0);
    }
    store->Release();
    return Now() - t;
}

void DeleteFigures(const std::string& dir, int runs)
{
    std::string text = ReadStore(dir, "delete_1000.store");
    DeleteRun(text, true);
    DeleteRun(text, false);
    std::vector<double> korvane, bare;
    for (int i = 0; i < runs; ++i) {
        korvane.push_back(DeleteRun(text, true));
        bare.push_back(DeleteRun(text, false));
    }
    Stats k = Summarise(korvane), b = Summarise(bare);
    PrintStats("delete_korvane_1000", k);
    PrintStats("delete_bare_1000", b);
    Print("delete_ratio_1000", k.median / b.median);
}

// Start to main dialog shown, for a program next to this one.
double StartRun(const std::string& program)
{
    double t = Now();
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION info = {};
    std::string line = "\"" + program + "\"";
    CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
    CloseHandle(info.hThread);
    HANDLE process = info.hProcess;
    HWND window = nullptr;
    while (!window) {
        HWND found = FindWindowA("#32770", "Korvane");
        if (found && IsWindowVisible(found)) window = found;
        else Sleep(1);
        if (Now() - t > 60) break;
    }
    double elapsed = Now() - t;
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    WaitForSingleObject(process, 30000);
    CloseHandle(process);
    return elapsed;
}

void StartupFigures(const std::string& dir, int runs)
{
    std::string here = ThisProgram();
    std::string bin = here.substr(0, here.find_last_of('\\') + 1);
    SetEnvironmentVariableA("MAPISIM_STORE", (dir + "\\profiles_20.store").c_str());
    SetEnvironmentVariableA("MAPISIM_LOG", nullptr);
    SetEnvironmentVariableA("MAPISIM_REPORT", nullptr);
    StartRun(bin + "Korvane.exe");
    StartRun(bin + "bare_dialog.exe");
    std::vector<double> korvane, bare;
    for (int i = 0; i < runs; ++i) {
        korvane.push_back(StartRun(bin + "Korvane.exe"));
        bare.push_back(StartRun(bin + "bare_dialog.exe"));
    }
    Stats k = Summarise(korvane), b = Summarise(bare);
    PrintStats("startup_korvane", k);
    PrintStats("startup_bare", b);
    Print("startup_ratio", k.median / b.median);
}

} // namespace

int main(int argc, char** argv)
{
    std::string dir = argc > 1 ? argv[1] : ".";
    int runs = argc > 2 ? atoi(argv[2]) : 5;
    std::string only = argc > 3 ? argv[3] : "";
    CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_COOL_CLASSES};
    InitCommonControlsEx(&controls);
    g_app.Init(GetModuleHandleA(nullptr));
    TraceFilePath();  // the trace file, as the log file a user configures
    TraceSetLevel(0);
    Print("runs", runs);

    auto want = [&](const char* part) { return only.empty() || only == part; };
    if (want("scan")) {
        ScanFigures(dir, "scan_1000.store", "1000", runs);
        ScanFigures(dir, "scan_10000.store", "10000", runs);
        ScanFigures(dir, "scan_20000.store", "20000", runs);
        ScanFigures(dir, "flat_5000.store", "5000", runs);
    }
    if (want("trace")) TraceFigures(dir, runs);
    if (want("krvn")) KrvnFigures(dir, runs);
    if (want("krvn-delete")) KrvnDeleteFigures();
    if (want("krvn-criteria")) KrvnCriteriaFigures();
    if (want("memory")) MemoryFigures(dir);
    if (want("delete")) DeleteFigures(dir, runs);
    if (want("startup")) StartupFigures(dir, runs);
    g_app.Term();
    CoUninitialize();
    return 0;
}
