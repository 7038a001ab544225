// The way back, proven by chance. For one seed: a random store (profiles, stores, holders nested up to
// six levels, up to 200 search folders with odd names, comments and criteria of every shape), random
// faults and choices; krvn delete as a process (sometimes two at once into one backup, sometimes onto a
// disk that fills), then the faults cleared and krvn restore, twice. Then the promise is checked: nothing
// gone that was not selected and reported deleted, each deleted folder in the backup and made again as
// it was, exit codes and audit log as the README says, mapisim's report clean.
// faults_wayback.exe --seed N [--work DIR] [--full DIR]   (a line per violation, then RESULT)
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>

#include <nlohmann/json.hpp>

#include "Support.h"
#include "model.h"
#include "restriction.h"

namespace {

using Json = nlohmann::json;
using Node = mapisim::Node;
using Strings = std::vector<std::string>;

struct Random {
    std::mt19937 rng;
    int Pick(size_t n) { return n ? static_cast<int>(rng() % n) : 0; }
    bool Chance(int percent) { return Pick(100) < percent; }
    template <class T> const T& Of(const std::vector<T>& items) { return items[Pick(items.size())]; }
};

std::string Hex(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) out += "0123456789ABCDEF"[c >> 4], out += "0123456789ABCDEF"[c & 15];
    return out;
}

std::string Cased(const std::string& utf8, bool upper)
{
    std::wstring wide = mapisim::Utf16FromUtf8(utf8);
    upper ? CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size())) : CharLowerBuffW(&wide[0], static_cast<DWORD>(wide.size()));
    return mapisim::Utf8FromWide(wide.c_str());
}

// A command-line argument that CommandLineToArgvW reads back as |text|.
std::string Arg(const std::string& text)
{
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : text) {
        if (c == '\\' && ++slashes) continue;
        out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\') += c;
        slashes = 0;
    }
    return out.append(slashes * 2, '\\') + "\"";
}

// Whole-name patterns with * and ?, any case, as --name reads them (written here anew).
bool Matches(const wchar_t* pattern, const wchar_t* name)
{
    if (!*pattern) return !*name;
    if (*pattern == L'*') return Matches(pattern + 1, name) || (*name && Matches(pattern, name + 1));
    return *name && (*pattern == L'?' || CompareStringOrdinal(pattern, 1, name, 1, TRUE) == CSTR_EQUAL) && Matches(pattern + 1, name + 1);
}

// Draws a store file: |clean| as the store is, |faulty| with the faults of the deletion's run.
struct StoreDraw {
    Random& r;
    std::string clean, faulty;
    std::set<std::string> ids;
    int serial = 0, searchFolders = 0;

    void Line(int level, const std::string& text, const std::string& faults = "")
    {
        clean += std::string(2 * level, ' ') + text + "\n";
        faulty += std::string(2 * level, ' ') + text + faults + "\n";
    }
    std::string Id()  // some objects have none: mapisim makes it
    {
        std::string id;
        for (int n = r.Chance(60) ? 1 + r.Pick(20) : 0; n && (id.empty() || !ids.insert(id).second);) {
            id.clear();
            for (int i = 0; i < n; ++i) id += static_cast<char>(r.Pick(256));
        }
        return id.empty() ? "" : " id=" + Hex(id);
    }
    std::string Fail(int percent, const Strings& calls, bool nth = false)
    {
        if (!r.Chance(percent)) return "";
        static const Strings hrs = {"0x80004005", "0x80070005", "0x8004010F", "0x80040115", "0x00040680"};
        std::string call = r.Of(calls), hr = hrs[r.Pick(call == "DeleteFolder" ? 5 : 4)];  // a warning: a partial completion
        return " fail=" + call + ":" + hr + (nth && r.Chance(60) ? "@" + std::to_string(1 + r.Pick(3)) : "");
    }
    // ASCII and beyond, some longer than a table row keeps, some another's in another case.
    std::string Name(const std::set<std::string>& taken, const Strings& elsewhere)
    {
        static const Strings stems = {"Search", "CRM Search", "Cache", "\xD0\x9F\xD0\xBE\xD0\xB8\xD1\x81\xD0\xBA", "\xE6\x90\x9C\xE7\xB4\xA2",
                                      "\xD7\x97\xD7\x99\xD7\xA4\xD7\x95\xD7\xA9", "\xF0\x9F\x98\x80 Suche", "a/b", "Tab\tund", "q\"uo\\te",
                                      "In\xE2\x80\x8B" "box", "Gro\xC3\x9F"};
        for (;;) {
            std::string name = !elsewhere.empty() && r.Chance(15) ? r.Of(elsewhere) : r.Of(stems) + " " + std::to_string(++serial);
            if (r.Chance(5)) name += " " + std::string(250 + r.Pick(20), 'n');
            if (r.Chance(20)) name = Cased(name, r.Chance(50));
            if (!taken.count(Cased(name, false))) return name;
        }
    }
    // The store file's restriction language, every shape, nested up to eight levels.
    std::string Restriction(int depth)
    {
        static const Strings strings = {"subject", "class", "sender", "to", "body", "attachment_name", "address", "0x1234001F"},
                             longs = {"flags", "importance", "message_size", "flag_status", "0x12340003"}, any = {"subject", "flags", "received", "has_attachments"},
                             times = {"received", "sent", "modified", "0x12340040"}, ops = {"<", "<=", ">", ">=", "=", "!=", "like"},
                             texts = {"\"invoice\"", "\"a \\\"quoted\\\" \\\\ word\"", "\"\xD0\xA1\xD1\x87\xD1\x91\xD1\x82\"", "\"\xF0\x9F\x93\x8E\"", "\"\""};
        std::string fuzzy = r.Of(Strings{"full", "substring", "prefix"}) + (r.Chance(50) ? "|ignorecase" : "") + (r.Chance(30) ? "|loose" : "");
        switch (r.Pick(depth < 8 ? 14 : 10)) {
        case 0: return "content(0x0037001E, \"ansi " + std::to_string(r.Pick(99)) + "\", " + fuzzy + ")";  // an 8-bit string
        case 1: return "content(" + r.Of(strings) + ", " + r.Of(texts) + ", " + fuzzy + ")";
        case 2: return "prop(" + r.Of(strings) + " " + r.Of(ops) + " " + r.Of(texts) + ")";
        case 3: return "prop(" + r.Of(longs) + " " + r.Of(ops) + " " + std::to_string(r.Pick(2000) - 1000) + ")";
        case 4: return "prop(has_attachments = " + std::string(r.Chance(50) ? "true" : "false") + ")";
        case 5: return "prop(" + r.Of(times) + " < 20" + std::to_string(10 + r.Pick(20)) + "-0" + std::to_string(1 + r.Pick(9)) + "-15T12:34:56Z)";
        case 6: return "prop(0x12340102 = bin:" + Hex(std::string(r.Pick(4), '\x5A')) + ")";
        case 7: return "compare(" + r.Of(any) + " " + r.Of(ops) + " " + r.Of(any) + ")";
        case 8: return "bitmask(flags, " + std::string(r.Chance(50) ? "eqz" : "nez") + ", 0x0000000" + std::to_string(1 + r.Pick(8)) + ")";
        case 9: return r.Chance(50) ? "size(" + r.Of(any) + " " + r.Of(ops) + " " + std::to_string(r.Pick(100000)) + ")" : "exist(" + r.Of(any) + ")";
        case 10: case 11: {
            std::string out = r.Chance(50) ? "and(" : "or(";
            for (int i = 0, n = 1 + r.Pick(3); i < n; ++i) out += (i ? ", " : "") + Restriction(depth + 1);
            return out + ")";
        }
        case 12: return "not(" + Restriction(depth + 1) + ")";
        default: return "sub(" + std::string(r.Chance(50) ? "recipients" : "attachments") + ", " + Restriction(depth + 1) + ")";
        }
    }
    // The folders below |path| (the finder's or a holder's); |holders| those a search may search.
    void Folders(int level, const std::string& path, bool scopable, Strings& holders, Strings& elsewhere)
    {
        std::set<std::string> taken;  // a search folder's name is its parent's only one, in any case
        std::string last;
        for (int i = 0, n = 1 + r.Pick(8); i < n && searchFolders < 200; ++i) {
            bool search = level > 8 || r.Chance(65), twin = !search && !last.empty() && r.Chance(15);
            // A holder may share its name with a holder sibling: such a twin stays empty, so that no
            // path names two folders one of which goes.
            std::string name = twin ? last : Name(taken, elsewhere), line = "folder " + mapisim::QuoteIfNeeded(name) + (search ? " search" : "") + Id();
            taken.insert(Cased(name, false));
            elsewhere.push_back(name);
            if (!search) {
                bool canScope = scopable && name.find_first_of("/;") == std::string::npos;
                Line(level, line, Fail(3, {"Open", "GetHierarchyTable", "QueryRows"}));
                if (canScope) holders.push_back(path + "/" + name);
                if (!twin && r.Chance(60)) Folders(level + 1, path + "/" + name, canScope, holders, elsewhere);
                last = name;
                continue;
            }
            ++searchFolders;
            if (r.Chance(10)) line += " class=IPF.Note";  // the mail client's own: never listed
            if (r.Chance(50)) line += " comment=" + mapisim::QuoteIfNeeded(r.Of(Strings{"", "a comment", "\xD0\x9A \xF0\x9F\x98\x80", std::string(300, 'c')}));
            if (r.Chance(50)) line += r.Chance(50) ? " modified=1995-05-05T00:00:00Z" : " modified=2090-01-01T00:00:00Z";
            if (r.Chance(50)) line += " items=" + std::to_string(r.Pick(3));
            if (r.Chance(85)) {  // else its criteria were never set
                std::string scope;
                for (int s = r.Pick(4); s > 0; --s) scope += (scope.empty() ? "" : ";") + r.Of(holders);
                line += " criteria=" + mapisim::QuoteIfNeeded(Restriction(1)) + (scope.empty() ? "" : " scope=" + mapisim::QuoteIfNeeded(scope));
                if (r.Chance(70)) line += " searchflags=0x" + std::string(1, "014589CD"[r.Pick(8)]);  // never SEARCH_REBUILD
            }
            Line(level, line, Fail(6, {"Open", "GetSearchCriteria", "DeleteFolder", "DeleteFolder"}));
        }
    }
    void Draw()
    {
        static const Strings stores = {"Mailbox - Anna Berg", "Archive 2019", "\xD0\x9F\xD0\xBE\xD1\x87\xD1\x82\xD0\xB0", "A store of a name longer than its row holds"};
        for (int p = 0, profiles = 1 + r.Pick(3); p < profiles; ++p) {
            Line(0, "profile " + mapisim::QuoteIfNeeded(p == 2 ? "\xD0\x9F\xD1\x80\xD0\xBE\xD1\x84\xD0\xB8\xD0\xBB\xD1\x8C" : "P" + std::to_string(p)) +
                        (p ? "" : " default"));
            for (int s = 0, count = 1 + r.Pick(3); s < count; ++s) {
                Line(1, "store " + mapisim::QuoteIfNeeded(stores[(s + p) % 4]) + (s ? "" : " default") + Id() +
                            (r.Chance(20) ? " rowlimit=" + std::to_string(8 + r.Pick(50)) : ""),  // long strings refused in rows
                     Fail(8, {"OpenMsgStore", "OpenMsgStore", "OpenEntry"}, true));
                Strings holders = {"Inbox", "Projects"}, elsewhere;
                Line(2, "folder Inbox" + Id());
                Line(2, "folder Projects" + Id());
                Line(2, "finder F" + Id() + (r.Chance(10) ? r.Chance(50) ? " tablecut=6" : " tablecut=255" : ""));
                Folders(3, "F", true, holders, elsewhere);
            }
        }
    }
};

// The folders below the finders of a store file, by entry identifier.
std::map<std::string, const Node*> FoldersOf(const mapisim::Model& model)
{
    std::map<std::string, const Node*> out;
    std::vector<const Node*> stack;
    for (const Node* profile : model.profiles())
        for (const Node* store : profile->children)
            if (store->finder) stack.insert(stack.end(), store->finder->children.begin(), store->finder->children.end());
    for (; !stack.empty(); stack.pop_back()) {
        const Node* node = out[stack.back()->id] = stack.back();
        stack.insert(stack.end() - 1, node->children.begin(), node->children.end());
    }
    return out;
}

// A store file without what a restore makes anew (identifiers, times, counts) or faults: each object as its
// path and what defines it, sorted.
Strings Shape(const std::string& text)
{
    mapisim::Model model;
    std::string error;
    if (!model.Parse(text, error)) return {"unreadable: " + error};
    Strings lines;
    std::function<void(const Node*, const std::string&)> add = [&](const Node* node, const std::string& above) {
        std::string path = above + "/" + node->name, line = path + (node->isDefault ? " default" : "");
        if (node->search) line += " search state=" + std::to_string(node->searchFlags);
        if (node->hasClass) line += " class=" + node->containerClass;
        if (node->hasComment) line += " comment=" + node->comment;
        if (node->criteria) line += " criteria=" + mapisim::WriteRestriction(*node->criteria);
        for (const std::string& searched : node->scope) line += " scope=" + searched;
        lines.push_back(line);
        for (const Node* child : node->children) add(child, path);
        for (const Node* child : node->root ? node->root->children : std::vector<Node*>()) add(child, path);
    };
    for (const Node* profile : model.profiles()) add(profile, "");
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Gives the object of identifier |id|, in a store file that names every identifier, the identifier |hex|.
void NewId(std::string& text, const std::string& id, const std::string& hex)
{
    std::string old = " id=" + Hex(id);
    size_t at = text.find(old);
    while (at != std::string::npos && !strchr(" \n", text[at + old.size()])) at = text.find(old, at + 1);
    if (at != std::string::npos) text.replace(at + 4, old.size() - 4, hex);
}

struct Run {
    std::string name, args;
    ProcessRun process;
    Json out;  // its JSON output, or null
};

struct Seed {
    unsigned number;
    std::string work, full;
    Random r;
    Strings violations;
    int leaks = 0, hangs = 0, crashes = 0, restarts = 0;

    void Violate(const std::string& invariant, const std::string& detail) { violations.push_back("invariant=" + invariant + ": " + detail.substr(0, 400)); }

    // Runs krvn with each argument list at once on |store|, each with a report and an audit log of its own, and checks
    // what must hold of any run: it ended, left nothing live in mapisim, and its record says what its output says.
    void Krvn(std::vector<Run>& runs, const std::string& store)
    {
        Strings lines;
        std::vector<Strings> environments;
        for (Run& run : runs) {
            DeleteFileA((work + "\\" + run.name + ".report").c_str());
            lines.push_back("\"" + ProgramFolder() + "krvn.exe\" " + run.args + " --format json --log " + Arg(work + "\\" + run.name + ".log"));
            environments.push_back({"MAPISIM_STORE=" + store, "MAPISIM_REPORT=" + work + "\\" + run.name + ".report",
                                    "MAPISIM_LOG=" + work + "\\" + run.name + ".calls"});
            DeleteFileA((work + "\\" + run.name + ".calls").c_str());
        }
        std::vector<ProcessRun> ended = RunProcesses(lines, environments);
        for (size_t i = 0; i < runs.size(); ++i) {
            Run& run = runs[i];
            // Wine now and then hangs a process as it starts: one that did not get as far as opening its
            // log did nothing, and is started once more (and counted).
            const std::string log = work + "\\" + run.name + ".log";
            if (ended[i].code == 99 && GetFileAttributesA(log.c_str()) == INVALID_FILE_ATTRIBUTES)
                ++restarts, ended[i] = RunProcesses({lines[i]}, {environments[i]})[0];
            run.process = ended[i];
            run.out = Json::parse(run.process.out, nullptr, false);
            if (!run.out.is_object()) run.out = Json();
            std::string report = ReadTextFile(work + "\\" + run.name + ".report"), code = std::to_string(run.process.code);
            Strings calls = SplitLines(ReadTextFile(work + "\\" + run.name + ".calls"));  // where a hang stood
            if (run.process.code == 99)
                ++hangs, Violate("hang", run.name + " did not end in 60 s; its last MAPI call: " + (calls.empty() ? "none" : calls.back()) + "; " + run.args);
            if (run.process.code == 99) continue;
            if (run.process.code < 0 || run.process.code > 4) ++crashes, Violate("crash", run.name + " exit code " + code + ": " + run.process.err);
            else if (!Contains(report, "live_objects=0\nlive_allocations=0\nsessions_open=0\n") || !Contains(report, "\nmisuses=0\n"))
                ++leaks, Violate("leak", run.name + ": " + report);
            Strings logged = SplitLines(ReadTextFile(work + "\\" + run.name + ".log"));
            Json record = logged.size() == 1 ? Json::parse(logged[0], nullptr, false) : Json();
            bool agrees = record.is_object() && record["exit_code"] == run.process.code;
            for (const char* key : {"deleted", "failed", "not_reached", "backup", "backup_without_criteria", "restored", "exists"})
                agrees = agrees && (run.out.is_null() || !run.out.contains(key) || record[key] == run.out[key]);
            for (size_t f = 0; agrees && !run.out.is_null() && f < run.out["folders"].size(); ++f)
                for (const char* key : {"entryid", "outcome", "hr", "reason"}) agrees = agrees && record["folders"][f][key] == run.out["folders"][f][key];
            if (!agrees) Violate("log", run.name + "'s record differs from its output or exit code " + code + ": " + (logged.empty() ? "" : logged[0]));
        }
    }

    // Delete's command line in |profile| (chosen where it is empty): stores, a selection, filters; the folders it
    // selects (found here anew) in |asked|, the one store it works on (if one) in |only|.
    std::string Choose(const mapisim::Model& model, const std::map<std::string, const Node*>& folders, std::string& profile,
                       std::set<std::string>& asked, const Node*& only)
    {
        const Node* p = model.profiles()[r.Pick(model.profiles().size())];
        for (const Node* named : model.profiles()) p = named->name == profile ? named : p;
        profile = p->name;
        std::string args = "delete -p " + Arg(profile);
        int how = p->children.empty() ? 0 : r.Pick(4);  // the default store, one by name, one by identifier, all
        const Node* chosen = how == 1 || how == 2 ? p->children[r.Pick(p->children.size())] : nullptr;
        for (const Node* s : p->children) chosen = how == 0 && s->isDefault ? s : chosen;
        args += how == 1 ? " -s " + Arg(Cased(chosen->name, false)) : how == 2 ? " --store-id " + Hex(chosen->id) : how == 3 ? " --all-stores" : "";
        only = chosen;
        std::vector<const Node*> candidates;
        for (const auto& f : folders)
            if (f.second->store->parent == p && (how == 3 || f.second->store == chosen) && f.second->search && !f.second->hasClass)
                candidates.push_back(f.second);
        std::vector<std::wstring> patterns;
        std::set<std::string> ids;
        int mode = candidates.empty() ? 0 : r.Pick(3);  // --all, --name, --id
        args += mode ? "" : " --all";
        for (int i = 0, n = mode ? 1 + r.Pick(4) : 0; i < n; ++i) {
            const Node* pick = r.Of(candidates);
            if (mode == 2) ids.insert(pick->id), args += " --id " + (r.Chance(30) ? Cased(Hex(pick->id), false) : Hex(pick->id));
            if (mode == 2) continue;
            std::wstring name = mapisim::Utf16FromUtf8(pick->name);
            if (name.find_first_of(L"\t\"*?") != std::wstring::npos || name.size() > 100) name = name.substr(0, 2) + L"*";
            else if (r.Chance(30)) name = name.substr(0, name.size() / 2) + L"*";
            patterns.push_back(name);
            args += " --name " + Arg(Cased(mapisim::Utf8FromWide(name.c_str()), r.Chance(30)));
        }
        bool older = r.Chance(10), empty = r.Chance(10);
        args += std::string(older ? r.Chance(50) ? " --older-than 0" : " --older-than 365" : "") + (empty ? " --empty" : "") + (r.Chance(50) ? " --keep-going" : "") +
                (r.Chance(8) ? " --dry-run" : "");
        for (const Node* c : candidates) {
            bool named = patterns.empty();
            for (const std::wstring& pattern : patterns) named |= Matches(pattern.c_str(), mapisim::Utf16FromUtf8(c->name).c_str());
            if ((mode == 2 ? ids.count(c->id) != 0 : named) && (!older || (c->hasModified && c->modifiedText < "2000")) && (!empty || c->items == 0)) asked.insert(c->id);
        }
        return args;
    }

    // Fills the small file system so that |room| bytes (whole pages) are left.
    void Fill(size_t room)
    {
        HANDLE filler = CreateFileA((full + "\\filler").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        std::string block(65536, 'x');
        DWORD written = 0;
        for (size_t size = block.size(); size >= 4096; size /= 2)
            while (WriteFile(filler, block.data(), static_cast<DWORD>(size), &written, nullptr) && written == size) {}
        LARGE_INTEGER length = {};
        GetFileSizeEx(filler, &length);
        length.QuadPart = std::max<LONGLONG>(0, length.QuadPart - static_cast<LONGLONG>(room));
        SetFilePointerEx(filler, length, nullptr, FILE_BEGIN);
        SetEndOfFile(filler);
        CloseHandle(filler);
    }

    void Play()
    {
        StoreDraw draw{r};
        draw.Draw();
        mapisim::Model before;  // read first in this process: the identifiers it makes are the ones krvn's mapisim makes
        std::string error, store = work + "\\store.txt";
        if (!before.Parse(draw.faulty, error)) return Violate("generator", error);
        std::map<std::string, const Node*> folders = FoldersOf(before);
        WriteTextFile(store, draw.faulty);

        // The deletion: one run or two at once into one backup, sometimes on a disk that fills, sometimes after a cut line.
        bool onFull = !full.empty() && r.Chance(15);
        const std::string backup = (onFull ? full : work) + "\\b.jsonl", earlier = r.Chance(10) ? "{\"format\": \"krvn-backup\", \"na" : "";
        DeleteFileA((full + "\\filler").c_str());
        DeleteFileA(backup.c_str());
        if (!earlier.empty()) WriteTextFile(backup, earlier);
        if (onFull) Fill(4096 * r.Pick(24));
        std::vector<Run> deletions(r.Chance(20) ? 2 : 1);
        std::vector<std::set<std::string>> asked(deletions.size());
        std::string profile;  // both runs work in one profile, as one restore serves them
        const Node* only = nullptr;
        for (size_t i = 0; i < deletions.size(); ++i) {
            const Node* one = nullptr;
            deletions[i] = {"delete" + std::to_string(i + 1), Choose(before, folders, profile, asked[i], i ? one : only) + " --backup " + Arg(backup)};
        }
        if (deletions.size() > 1) only = nullptr;  // the restore goes to the recorded stores
        Krvn(deletions, store);
        std::string afterText = ReadTextFile(store);
        mapisim::Model after;
        std::map<std::string, const Node*> left = folders;  // where nothing was written, as it was (its made identifiers too)
        if (afterText != draw.faulty && !after.Parse(afterText, error)) return Violate("store", "unreadable after the deletion: " + error);
        if (afterText != draw.faulty) left = FoldersOf(after);

        // Exit codes as the README gives them; nothing gone that was not asked for and reported deleted, nothing
        // reported deleted still there, every folder gone in the backup, alone on an undamaged store exactly what was asked.
        std::map<std::string, int> reported, recorded;
        for (size_t i = 0; i < deletions.size(); ++i) {
            const Run& run = deletions[i];
            std::set<std::string> acted, wanted;
            size_t failed = 0, unread = run.out.is_null() ? 0 : run.out["incomplete"].size();
            bool stopped = false;
            for (const Json& f : run.out.is_null() ? Json::array() : run.out["folders"]) {
                acted.insert(f["entryid"].get<std::string>());
                reported[f["entryid"].get<std::string>()] += f["outcome"] == "deleted";
                failed += f["outcome"] == "failed";
                if (stopped && f["outcome"] != "not-reached") Violate("stop", run.name + " went on after a failure without --keep-going");
                stopped |= f["outcome"] == "failed" && !Contains(run.args, "--keep-going");
            }
            for (const std::string& id : asked[i]) wanted.insert(Hex(id));
            int code = run.out.is_null() ? 3 : failed ? 1 : unread ? 3 : 0;
            if (run.process.code != code && !(run.out.is_null() && run.process.code == 2))
                Violate("exit_code", run.name + " exit " + std::to_string(run.process.code) + ", not " + std::to_string(code) + ": " + run.process.err);
            if (deletions.size() == 1 && !run.out.is_null() && !unread && acted != wanted)
                Violate("selection", run.name + " acted on " + std::to_string(acted.size()) + " folders, not the " + std::to_string(wanted.size()) + " asked for");
            if (!run.out.is_null() && !run.out["backup"].is_null() && run.out["backup"] != backup) Violate("backup_named", run.out["backup"].dump());
            // A backup that could not be written whole: alone, the run leaves the file as it was, or none where it made it.
            bool putBack = earlier.empty() ? GetFileAttributesA(backup.c_str()) == INVALID_FILE_ATTRIBUTES : ReadTextFile(backup) == earlier;
            if (Contains(run.process.err, "could not be written whole") && deletions.size() == 1 &&
                (!putBack || !Contains(run.process.err, earlier.empty() ? "; it was removed, as it held nothing else;" : "; it is as it was;")))
                Violate("backup_undone", run.process.err);
        }
        for (const std::string& line : SplitLines(ReadTextFile(backup).substr(earlier.size()))) {
            Json record = Json::parse(line, nullptr, false);
            if (record.is_object() && record["format"] == "krvn-backup" && record["entryid"].is_string()) ++recorded[record["entryid"].get<std::string>()];
            else if (!line.empty()) Violate("backup_record", "a line of the backup is no whole record");
        }
        for (const auto& f : folders) {
            std::string hex = Hex(f.first), which = "'" + f.second->name + "' (" + hex + ")";
            bool gone = !left.count(f.first), asking = std::any_of(asked.begin(), asked.end(), [&](const std::set<std::string>& a) { return a.count(f.first) != 0; });
            if (gone && !asking) Violate("wrong_deletion", which + " was not asked for, yet is gone");
            if (gone != (reported[hex] > 0)) Violate(gone ? "unreported_deletion" : "deleted_still_there", which + (gone ? " is gone unreported" : " is reported deleted"));
            if (gone && (recorded[hex] < 1 || recorded[hex] > static_cast<int>(deletions.size())))
                Violate("backup_record", which + " is gone with " + std::to_string(recorded[hex]) + " records");
        }
        if (GetFileAttributesA(backup.c_str()) == INVALID_FILE_ATTRIBUTES) return;

        // The faults cleared; sometimes the store, or a holder of a deleted folder, made again under another identifier
        // (only in a file that names every identifier: where mapisim makes some, one more given would move the others;
        // never a folder another searches, as the search would be gone). Then restore, twice.
        std::string restoreText = afterText, into;
        for (size_t at; (at = restoreText.find(" fail=")) != std::string::npos;) restoreText.erase(at, restoreText.find_first_of(" \n", at + 1) - at);
        if (only && afterText != draw.faulty && r.Chance(30)) {
            NewId(restoreText, only->id, "BB" + Hex(std::to_string(number)));
            into = r.Chance(50) ? " --store-id BB" + Hex(std::to_string(number)) : " -s " + Arg(only->name);
        }
        std::set<std::string> searched;
        for (const auto& f : folders)
            for (const std::string& path : f.second->scope) searched.insert(f.second->store->path + "/" + path);
        for (const auto& f : afterText != draw.faulty && r.Chance(15) ? folders : std::map<std::string, const Node*>())
            if (!left.count(f.first) && f.second->parent->kind == mapisim::Kind::Folder && !searched.count(f.second->parent->path)) {
                NewId(restoreText, f.second->parent->id, "CC" + Hex(std::to_string(number)));
                break;
            }
        WriteTextFile(store, restoreText);
        std::vector<Run> restores = {{"restore1", "restore --from " + Arg(backup) + " -p " + Arg(profile) + into + " --keep-going"}};
        int code = earlier.empty() ? 0 : 3;  // a line cut short is reported, and only it
        for (int round = 0; round < 2; ++round) {
            std::string was = ReadTextFile(store);
            Krvn(restores, store);
            const Run& run = restores[0];
            for (const Json& f : run.out.is_null() ? Json::array() : run.out["folders"]) {
                std::string made = f["new_entryid"].is_string() ? f["new_entryid"].get<std::string>() : "";
                bool earlierId = std::any_of(folders.begin(), folders.end(), [&](const auto& e) { return Hex(e.first) == made; });
                if (round ? f["outcome"] != "exists" : (f["outcome"] != "restored" && f["outcome"] != "exists") || earlierId)
                    Violate(round ? "second_restore" : "restore_outcome", f.dump());
            }
            if (run.process.code != code || run.out.is_null() || run.out["unreadable"].size() != (earlier.empty() ? 0u : 1u))
                Violate(round ? "second_restore" : "restore_outcome", "exit " + std::to_string(run.process.code) + ": " + run.process.err);
            Strings want = Shape(draw.clean), got = Shape(ReadTextFile(store));
            if (!round && got != want) {
                auto differs = std::mismatch(want.begin(), want.end(), got.begin(), got.end());
                Violate("not_restored", "want '" + (differs.first == want.end() ? "" : *differs.first) + "', have '" + (differs.second == got.end() ? "" : *differs.second) + "'");
            }
            if (round && ReadTextFile(store) != was) Violate("second_restore", "it changed the store");
            restores[0] = {"restore2", restores[0].args + (r.Chance(50) ? " --dry-run" : "")};  // which sees as much as a real run
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    Seed seed{1, "", "", Random{}};
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--seed") seed.number = static_cast<unsigned>(strtoul(argv[i + 1], nullptr, 10));
        else if (option == "--work") seed.work = argv[i + 1];
        else if (option == "--full") seed.full = argv[i + 1];
    }
    if (seed.work.empty()) seed.work = TempPath("wayback");
    CreateDirectoryA(seed.work.c_str(), nullptr);
    seed.r.rng.seed(seed.number);
    try {
        seed.Play();
    } catch (const std::exception& e) {  // output of a shape the checks did not expect
        seed.Violate("output", e.what());
    }
    for (const std::string& violation : seed.violations)
        printf("VIOLATION seed=%u %s\n  reproduce: make faults-wayback SEEDS=1 FIRST=%u\n", seed.number, violation.c_str(), seed.number);
    printf("RESULT seed=%u violations=%d crashes=%d hangs=%d leaks=%d restarts=%d\n", seed.number,
           static_cast<int>(seed.violations.size()) - seed.crashes - seed.hangs - seed.leaks, seed.crashes, seed.hangs, seed.leaks, seed.restarts);
    return seed.violations.empty() ? 0 : 1;
}
