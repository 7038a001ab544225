// Fault campaign: for each seed, a random store with random failures and
// missing properties, and one whole session of Korvane driven in-process:
// list the profiles, expand each, select each store, select all, delete,
// collapse, close. After each run it checks that nothing leaked, nothing was
// deleted that was not listed and selected, that the list showed only search
// folders without a container class, and that every record was freed once.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "AppContext.h"
#include "MailData.h"
#include "StoreScan.h"
#include "Support.h"
#include "resource.h"
#include "trace.h"

namespace {

const HRESULT kFailures[] = {HRESULT(0x80004005), HRESULT(0x8004010F), HRESULT(0x80040115), HRESULT(0x8007000E),
                             HRESULT(0x80070005), HRESULT(0x80040102), HRESULT(0x80040111), HRESULT(0x8004010E)};

struct Generator {
    explicit Generator(unsigned seed) : rng(seed) {}
    std::mt19937 rng;
    int nextFolder = 1;
    bool faults = true;  // false: the same store without any fail= (the draws are made all the same)
    std::string provider;  // attributes of every finder's deep table, where there are no faults

    int Pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
    bool Chance(int percent) { return Pick(100) < percent; }

    std::string Faults(const std::vector<const char*>& calls, int percent)
    {
        std::string out = Draw(calls, percent);
        return faults ? out : std::string();
    }
    std::string Draw(const std::vector<const char*>& calls, int percent)
    {
        std::string out;
        while (Chance(percent)) {
            char hr[16];
            snprintf(hr, sizeof(hr), "0x%08lX", static_cast<unsigned long>(kFailures[Pick(8)]));
            out += std::string(" fail=") + calls[Pick(static_cast<int>(calls.size()))] + ":" + hr;
            if (Chance(50)) out += "@" + std::to_string(1 + Pick(3));
            percent /= 2;
        }
        return out;
    }
    std::string Missing(const std::vector<const char*>& names, int percent)
    {
        if (!Chance(percent)) return "";
        std::string out = " missing=";
        out += names[Pick(static_cast<int>(names.size()))];
        return out;
    }
    void Folders(std::string& out, int level, int depth, int& budget)
    {
        int count = Pick(6);
        for (int i = 0; i < count && budget > 0; ++i, --budget) {
            bool search = Chance(55);
            int id = nextFolder++;
            // Without faults, names also hold "/" or run longer than a table row keeps.
            int odd = Pick(12);
            std::string name = (faults || odd > 1 ? "" : odd ? "a/b" : std::string(300, 'n')) + "f" + std::to_string(id);
            char hex[16];
            snprintf(hex, sizeof(hex), " id=%08X", id);
            out += std::string(2 * level, ' ') + "folder \"" + name + "\"" + (search ? " search" : "") + hex;
            if (Chance(20)) out += " class=IPF.Note";
            out += Faults({"Open", "GetProps", "GetHierarchyTable", "SetColumns", "QueryRows", "DeleteFolder"}, 12);
            out += Missing({"name", "entryid", "foldertype", "parent"}, 6);
            if (Chance(10)) out += " batch=" + std::to_string(1 + Pick(3));
            out += "\n";
            if (!search && depth > 0) Folders(out, level + 1, depth - 1, budget);
        }
    }
    std::string Store()
    {
        std::string out;
        if (Chance(10)) out += "mapi" + Faults({"MAPIAdminProfiles", "GetProfileTable", "SetColumns", "QueryRows"}, 100) + "\n";
        int profiles = 1 + Pick(3);
        for (int p = 0; p < profiles; ++p) {
            out += "profile p" + std::to_string(p) + (p == 0 ? " default" : "") +
                   Faults({"Logon", "GetMsgStoresTable", "SetColumns", "QueryRows"}, 10) + Missing({"name", "default"}, 4) + "\n";
            int stores = Pick(4);
            for (int s = 0; s < stores; ++s) {
                out += "  store s" + std::to_string(s) + (s == 0 ? " default" : "") +
                       Faults({"OpenMsgStore", "GetProps", "OpenEntry"}, 10) + Missing({"name", "entryid", "default", "finder"}, 4) + "\n";
                if (Chance(85)) {
                    out += "    finder F" + (faults ? "" : provider) + Faults({"Open", "GetProps", "GetHierarchyTable", "SetColumns", "QueryRows"}, 8) +
                           Missing({"name", "entryid", "foldertype", "parent"}, 3) + (Chance(10) ? " batch=2" : "") + "\n";
                    int budget = 40;
                    Folders(out, 3, 3, budget);
                }
            }
        }
        return out;
    }
};

struct Outcome {
    long listed = 0;
    long deleted = 0;
    bool leak = false;
    bool wrongDeletion = false;
    bool wrongListing = false;
    bool heap = false;
    bool deepDiffers = false;  // krvn's deep scan listed otherwise than the walk
    std::string detail;
};

// Folder ids (the generator's 4-byte id= attributes) of the folders in a store file.
std::set<unsigned> FolderIds(const std::string& text, std::set<unsigned>* listable = nullptr)
{
    std::set<unsigned> ids;
    for (const StoreFolder& folder : StoreFolders(text)) {
        if (folder.id.size() != 4) continue;
        const unsigned char* b = reinterpret_cast<const unsigned char*>(folder.id.data());
        unsigned id = (unsigned(b[0]) << 24) | (unsigned(b[1]) << 16) | (unsigned(b[2]) << 8) | b[3];
        ids.insert(id);
        if (listable && folder.listable) listable->insert(id);
    }
    return ids;
}

unsigned RecordId(LPARAM data)
{
    const SBinary* record = reinterpret_cast<const SBinary*>(data);
    if (!record || record->cb != 4) return 0;
    return (unsigned(record->lpb[0]) << 24) | (unsigned(record->lpb[1]) << 16) | (unsigned(record->lpb[2]) << 8) | record->lpb[3];
}

// krvn's deep scan against the dialog's walk, store by store, on the seed's
// store without its faults: where no call fails they must list the same.
bool DeepScanDiffers(unsigned seed, std::string& detail)
{
    // Every way a provider's deep table may come: its own depths, breadth first,
    // in reverse, with names cut short, or refused.
    const char* const providers[] = {"", " depthbase=0", " deeporder=breadth", " deeporder=reverse", " tablecut=255",
                                     " nodeep=0x80040102"};
    Generator generator(seed);
    generator.faults = false;
    generator.provider = providers[seed % 6];
    bool anyOrder = generator.provider == " deeporder=reverse";
    MapiSim sim(generator.Store(), false);
    std::vector<ProfileRow> profiles;
    ReadProfiles(profiles);
    bool differs = false;
    for (const ProfileRow& profile : profiles) {
        SessionRef session;
        std::vector<StoreRow> stores;
        if (FAILED(Logon(profile, session)) || FAILED(ReadStores(session.Get(), stores))) continue;
        for (const StoreRow& store : stores) {
            std::vector<Found> walked, fast;
            Collector walk(walked, 0, nullptr), deep(fast, 0, nullptr);
            ScanStep step;
            HRESULT walkResult = ScanStoreFast(session.Get(), store.entryId, walk, &step, true);
            HRESULT fastResult = ScanStoreFast(session.Get(), store.entryId, deep, &step, false);
            std::vector<std::wstring> a, b;
            for (const Found& f : walked) a.push_back(f.name + L"|" + f.path + L"|" + std::wstring(f.entryId.begin(), f.entryId.end()));
            for (const Found& f : fast) b.push_back(f.name + L"|" + f.path + L"|" + std::wstring(f.entryId.begin(), f.entryId.end()));
            if (anyOrder) {
                std::sort(a.begin(), a.end());
                std::sort(b.begin(), b.end());
            }
            if (walkResult != fastResult || a != b) {
                differs = true;
                detail += " deep_scan(" + profile.ansiName + ")";
            }
        }
    }
    sim.Finish();
    return differs;
}

Outcome RunSeed(unsigned seed)
{
    Generator generator(seed);
    std::string text = generator.Store();
    std::set<unsigned> listable;
    std::set<unsigned> before = FolderIds(text, &listable);
    Outcome outcome;

    MapiSim sim(text);
    std::vector<unsigned> listed, selected;
    listed.reserve(100000);  // before the heap's count
    selected.reserve(100000);
    HeapCounts heapBefore = GetHeapCounts();
    {
        MainWindow ui;
        std::vector<TreeItem> profiles = TreeChildren(ui.tree);
        for (const TreeItem& profile : profiles) {
            ui.Expand(profile.item);
            for (const TreeItem& store : TreeChildren(ui.tree, profile.item)) {
                ui.Select(store.item);
                for (const ListRow& row : ListRows(ui.list)) {
                    if (!row.data) continue;
                    listed.push_back(RecordId(row.data));
                    if (!listable.count(listed.back())) outcome.wrongListing = true;
                }
                ui.Command(IDC_SELECT_ALL);
                for (const ListRow& row : ListRows(ui.list))
                    if (row.selected) selected.push_back(RecordId(row.data));
                ui.Command(IDC_DELETE);
            }
            ui.Collapse(profile.item);
        }
        // Expand again and close with sessions held, as a user closing the tool would.
        if (!profiles.empty()) ui.Expand(profiles[0].item);
        ui.Command(IDCANCEL);
    }
    HeapCounts heapAfter = GetHeapCounts();
    if (heapAfter.badFrees != heapBefore.badFrees || heapAfter.live != heapBefore.live) {
        outcome.heap = true;
        outcome.detail += " heap(live " + std::to_string(heapAfter.live - heapBefore.live) + ", bad frees " +
                          std::to_string(heapAfter.badFrees - heapBefore.badFrees) + ")";
    }
    if (!sim.Finish()) {
        outcome.leak = true;
        outcome.detail += " report(" + sim.ReportText() + ")";
    }
    std::set<unsigned> after = FolderIds(sim.StoreText());
    outcome.listed = static_cast<long>(listed.size());
    outcome.deleted = static_cast<long>(before.size() - after.size());
    std::set<unsigned> chosen(selected.begin(), selected.end());
    std::string log = sim.Log();
    for (unsigned id : before) {
        if (after.count(id)) continue;
        char name[32];
        snprintf(name, sizeof(name), "/f%u\" ", id);
        bool deletedByCall = false;
        for (const std::string& line : SplitLines(log))
            if (line.compare(0, 13, "DeleteFolder ") == 0 && Contains(line, name) && Contains(line, "-> 0x0")) deletedByCall = true;
        if (!chosen.count(id) || !listable.count(id) || !deletedByCall) {
            outcome.wrongDeletion = true;
            outcome.detail += " deleted f" + std::to_string(id);
        }
    }
    outcome.deepDiffers = DeepScanDiffers(seed, outcome.detail);
    DeleteFileA(sim.storePath.c_str());
    DeleteFileA(sim.logPath.c_str());
    DeleteFileA(sim.reportPath.c_str());
    return outcome;
}

DWORD g_seedStart = 0;
unsigned g_currentSeed = 0;
const char* g_progressFile = nullptr;

DWORD WINAPI Watchdog(LPVOID limit)
{
    for (;;) {
        Sleep(1000);
        if (g_seedStart && GetTickCount() - g_seedStart > static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(limit)) * 1000) {
            printf("HANG seed=%u\n", g_currentSeed);
            fflush(stdout);
            ExitProcess(3);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    unsigned first = 1, seeds = 50, limit = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--first") first = static_cast<unsigned>(atoi(argv[i + 1]));
        else if (option == "--seeds") seeds = static_cast<unsigned>(atoi(argv[i + 1]));
        else if (option == "--limit") limit = static_cast<unsigned>(atoi(argv[i + 1]));
        else if (option == "--progress") g_progressFile = argv[i + 1];
    }
    CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_COOL_CLASSES};
    InitCommonControlsEx(&controls);
    g_app.Init(GetModuleHandleA(nullptr));
    // Errors only: call lines would go to the debugger channel for every MAPI call.
    TraceSetLevel(TRACE_ERROR);
    CreateThread(nullptr, 0, Watchdog, reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(limit)), 0, nullptr);

    // The first window binding makes the binding table, which lives on: made
    // here, so that no run counts it as a heap block left behind.
    { MainWindow warmUp; }
    StoreFolders("profile P fail=Logon:0x80004005\n");

    long runs = 0, leaks = 0, wrong = 0, listing = 0, heap = 0, deep = 0, listedRows = 0, deletedFolders = 0;
    for (unsigned seed = first; seed < first + seeds; ++seed) {
        g_currentSeed = seed;
        if (g_progressFile) WriteTextFile(g_progressFile, std::to_string(seed) + "\n");
        g_seedStart = GetTickCount();
        Outcome outcome = RunSeed(seed);
        g_seedStart = 0;
        ++runs;
        listedRows += outcome.listed;
        deletedFolders += outcome.deleted;
        if (outcome.leak) ++leaks;
        if (outcome.wrongDeletion) ++wrong;
        if (outcome.wrongListing) ++listing;
        if (outcome.heap) ++heap;
        if (outcome.deepDiffers) ++deep;
        if (outcome.leak || outcome.wrongDeletion || outcome.wrongListing || outcome.heap || outcome.deepDiffers)
            printf("FAIL seed=%u%s%s%s%s%s%s\n", seed, outcome.leak ? " leak" : "", outcome.wrongDeletion ? " wrong_deletion" : "",
                   outcome.wrongListing ? " wrong_listing" : "", outcome.heap ? " heap" : "",
                   outcome.deepDiffers ? " deep_scan" : "", outcome.detail.c_str());
        fflush(stdout);
    }
    printf("RESULT runs=%ld leaks=%ld wrong_deletions=%ld wrong_listings=%ld heap=%ld deep_scan_differs=%ld listed_rows=%ld "
           "deleted_folders=%ld\n", runs, leaks, wrong, listing, heap, deep, listedRows, deletedFolders);
    g_app.Term();
    CoUninitialize();
    return (leaks || wrong || listing || heap || deep) ? 1 : 0;
}
