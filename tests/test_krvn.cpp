// krvn.exe as a process, against mapisim: each command and format, selection,
// deletion with its stop rule, and the exit codes with their messages. After
// every run mapisim's report must be clean.
#include <doctest/doctest.h>

#include <windows.h>

#include <algorithm>
#include "Scenario.h"

namespace {

const std::string kStore =
    "profile \"B\xC3\xBCro\" default\n  store \"Postfach J\xC3\xBCrgen\" default id=AA00\n    finder Finder\n"
    "      folder \"Ungelesen, \\\"wichtig\\\"\" search id=0A0B\n      folder \"Gr\xC3\xB6\xC3\x9F" "er als 5 MB\" search class=IPF.Note id=0C0D\n"
    "      folder \"A/B\" id=0E0F\n        folder \"Tab\\tund\\nZeile\" search id=1011\n        folder Chef search id=1213\n"
    "  store Archiv id=AA01\n    finder F\n      folder alt search id=1415\n"
    "profile Zweit\n  store S default id=AB00\nprofile Locked fail=Logon:0x80040111\n  store T default\n";

struct Run { int code; std::string out, err, log, storeAfter; };

// Runs |command| on a fresh copy of |store|; mapisim's report must then be clean.
Run Start(const std::string& command, const std::string& store = kStore)
{
    MapiSim files(store, true, false);  // MAPI is the command's
    ProcessRun run = RunProcess(command);
    std::string report = files.ReportText();
    CAPTURE(command);
    CHECK((report.empty() || Contains(report, "live_objects=0\nlive_allocations=0\nsessions_open=0\n")));
    return {run.code, run.out, run.err, ReadTextFile(files.logPath), files.StoreText()};
}

Run Krvn(const std::string& args, const std::string& store = kStore) { return Start("\"" + ProgramFolder() + "krvn.exe\" " + args, store); }

const char* const kListCsv =
    "profile,store,name,path,entryid\r\n"
    "B\xC3\xBCro,Postfach J\xC3\xBCrgen,\"Ungelesen, \"\"wichtig\"\"\",/Finder,0A0B\r\n"
    "B\xC3\xBCro,Postfach J\xC3\xBCrgen,\"Tab\tund\nZeile\",/Finder/A/B,1011\r\n"
    "B\xC3\xBCro,Postfach J\xC3\xBCrgen,Chef,/Finder/A/B,1213\r\n";

} // namespace

TEST_CASE("every command and format prints the exact records")
{
    const struct { const char* args; const char* out; } cases[] = {
        {"profiles", "name    default\r\nB\xC3\xBCro    true\r\nZweit   false\r\nLocked  false\r\n3 profiles\r\n"},
        {"profiles --format json", "[\r\n  {\"name\": \"B\xC3\xBCro\", \"default\": true},\r\n  {\"name\": \"Zweit\", \"default\": false},\r\n"
         "  {\"name\": \"Locked\", \"default\": false}\r\n]\r\n"},
        {"stores --format csv", "profile,name,default,entryid\r\nB\xC3\xBCro,Postfach J\xC3\xBCrgen,true,AA00\r\nB\xC3\xBCro,Archiv,false,AA01\r\n"},
        {"stores -p zweit --format json", "[\r\n  {\"profile\": \"Zweit\", \"name\": \"S\", \"default\": true, \"entryid\": \"AB00\"}\r\n]\r\n"},
        {"list", "profile  store            name                  path         entryid\r\n"
                 "B\xC3\xBCro     Postfach J\xC3\xBCrgen  Ungelesen, \"wichtig\"  /Finder      0A0B\r\n"
                 "B\xC3\xBCro     Postfach J\xC3\xBCrgen  Tab\tund\nZeile         /Finder/A/B  1011\r\n"
                 "B\xC3\xBCro     Postfach J\xC3\xBCrgen  Chef                  /Finder/A/B  1213\r\n"
                 "3 search folders\r\n"},
        {"list --format csv", kListCsv},
        {"list -p B\xC3\x9CRO -s \"postfach j\xC3\xBCrgen\" --format csv", kListCsv},
        {"list --format json",
         "[\r\n"
         "  {\"profile\": \"B\xC3\xBCro\", \"store\": \"Postfach J\xC3\xBCrgen\", \"name\": \"Ungelesen, \\\"wichtig\\\"\", \"path\": \"/Finder\", \"entryid\": \"0A0B\"},\r\n"
         "  {\"profile\": \"B\xC3\xBCro\", \"store\": \"Postfach J\xC3\xBCrgen\", \"name\": \"Tab\\tund\\nZeile\", \"path\": \"/Finder/A/B\", \"entryid\": \"1011\"},\r\n"
         "  {\"profile\": \"B\xC3\xBCro\", \"store\": \"Postfach J\xC3\xBCrgen\", \"name\": \"Chef\", \"path\": \"/Finder/A/B\", \"entryid\": \"1213\"}\r\n"
         "]\r\n"},
        {"list -s archiv --format csv", "profile,store,name,path,entryid\r\nB\xC3\xBCro,Archiv,alt,/F,1415\r\n"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.args);
        Run run = Krvn(c.args);
        CHECK(run.code == 0);
        CHECK(run.err == "");
        CHECK(run.out == c.out);
    }
}

TEST_CASE("delete selects by --all, --name and --id, in list order; --dry-run calls nothing that deletes")
{
    const struct { const char* args; std::vector<std::string> deleted; } cases[] = {  // the entry identifiers gone
        {"delete --all", {"0A0B", "1011", "1213"}},
        {"delete --name c?EF --name \"ungelesen*\"", {"0A0B", "1213"}},
        {"delete --id 1011 --id 1415", {"1011"}},  // 1415 is in another store
        {"delete --all --all-stores", {"0A0B", "1011", "1213", "1415"}},
        {"delete --name \"Gr*\"", {}},  // a folder with a container class is never listed, so never deleted
    };
    for (const auto& c : cases) {
        CAPTURE(c.args);
        Run run = Krvn(std::string(c.args) + " --format csv");
        CHECK(run.code == 0);
        Run dry = Krvn(std::string(c.args) + " --dry-run --format csv");
        CHECK(dry.code == 0);
        CHECK(dry.storeAfter == kStore);
        CHECK_FALSE(Contains(dry.log, "DeleteFolder "));
        for (const char* id : {"0A0B", "0C0D", "1011", "1213", "1415"}) {
            bool gone = std::find(c.deleted.begin(), c.deleted.end(), id) != c.deleted.end();
            CHECK(Contains(run.storeAfter, std::string("id=") + id) != gone);
            CHECK(Contains(run.out, std::string(",") + id + ",deleted,\r\n") == gone);
            CHECK(Contains(dry.out, std::string(",") + id + ",would-delete,\r\n") == gone);
        }
    }
}

TEST_CASE("a refused deletion stops the rest, or not with --keep-going")
{
    const std::string store = "profile P default\n  store S default\n    finder F\n      folder one search id=01\n"
                              "      folder two search id=02 fail=DeleteFolder:0x80070005\n      folder three search id=03\n";
    Run stop = Krvn("delete --all --format csv", store);
    CHECK(stop.code == 1);
    CHECK(stop.out == "profile,store,name,path,entryid,outcome,hr\r\n"
                      "P,S,one,/F,01,deleted,\r\nP,S,two,/F,02,failed,0x80070005\r\nP,S,three,/F,03,not-reached,\r\n");
    Run on = Krvn("delete --all --keep-going --format json", store);
    CHECK(on.code == 1);
    CHECK(Contains(on.out, "\"name\": \"three\", \"path\": \"/F\", \"entryid\": \"03\", \"outcome\": \"deleted\", \"hr\": \"\"}"));
    CHECK(Contains(on.out, "\"deleted\": 2,\r\n  \"failed\": 1,\r\n  \"would_delete\": 0,\r\n  \"not_reached\": 0\r\n}\r\n"));
    CHECK(on.storeAfter == "profile P default\n  store S default\n    finder F\n      folder two search id=02 fail=DeleteFolder:0x80070005\n");
    CHECK(Contains(Krvn("delete --all", store).out, "\r\ndeleted 1, failed 1, would delete 0, not reached 1\r\n"));
}

TEST_CASE("exit codes 2 and 3 with a message naming the trouble, after what could be done; help and version")
{
    const struct { const char* args; const char* store; int code; const char* err; const char* out = ""; } cases[] = {
        {"", nullptr, 2, "krvn: no command given\r\nTry 'krvn --help'.\r\n"},
        {"bogus", nullptr, 2, "krvn: unknown command 'bogus'\r\n"},
        {"delete", nullptr, 2, "'delete' needs --all, --name PATTERN or --id HEX"},
        {"delete --all --name x", nullptr, 2, "'--all' excludes"},
        {"list --format xml", nullptr, 2, "unknown format 'xml'"},
        {"list -p", nullptr, 2, "'-p' needs a value"},
        {"delete --all --id 0G", nullptr, 2, "'--id 0G' is not an entry identifier in hex"},
        {"list -p Nobody", nullptr, 3, "krvn: no profile named 'Nobody'\r\n"},
        {"list -s Nowhere", nullptr, 3, "krvn: no store named 'Nowhere' in profile 'B\xC3\xBCro'\r\n"},
        {"list -p zweit", nullptr, 3, "krvn: store 'S' has no finder folder that could be opened (hr=0x80004005)\r\n"},
        {"stores -p Locked", nullptr, 3, "krvn: the logon to profile 'Locked' failed (hr=0x80040111)\r\n"},
        {"list", "profile P\n", 3, "krvn: there is no default profile\r\n"},
        {"list", "mapi fail=MAPIInitialize:0x80004005\n", 3, "krvn: MAPI could not be initialised (hr=0x80004005)"},
        {"list", "profile P default\n  store S default fail=OpenMsgStore:0x80040115\n", 3,
         "krvn: store 'S' could not be opened (hr=0x80040115)\r\n"},
        {"list", "profile P default\n  store S default\n    finder F fail=GetHierarchyTable:0x80040115\n", 3,
         "krvn: store 'S' could not be scanned (hr=0x80040115)\r\n"},
        {"list --all-stores --format csv", "profile P default\n  store Good default\n    finder F\n      folder x search id=01\n  store Bad\n", 3,
         "krvn: store 'Bad' has no finder folder that could be opened (hr=0x80004005); left out\r\n", "profile,store,name,path,entryid\r\nP,Good,x,/F,01\r\n"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.args);
        Run run = Krvn(c.args, c.store ? c.store : kStore);
        CHECK(run.code == c.code);
        CHECK(Contains(run.err, c.err));
        CHECK(run.out == c.out);
    }
    Run none = Krvn("profiles", "");
    CHECK(none.code == 0);
    CHECK(none.out == "0 profiles\r\n");
    CHECK(Contains(Krvn("--help").out, "krvn delete   [-p PROFILE]"));
    CHECK(Krvn("--version").out == "krvn 1.0.0.1\r\n");
}

TEST_CASE("the sample scripts under cmd: detection gives 1 over its threshold, remediation deletes what matches")
{
    auto sample = [](const char* script, const char* args) { return Start("cmd.exe /c \"" + ProgramFolder() + script + "\" " + args); };
    CHECK(sample("detect.cmd", "2").code == 1);
    CHECK(sample("detect.cmd", "3").code == 0);
    CHECK(FolderNames(sample("remediate.cmd", "c*").storeAfter) == std::vector<std::string>{"Ungelesen, \"wichtig\"", "Gr\xC3\xB6\xC3\x9F" "er als 5 MB", "A/B", "Tab\tund\nZeile", "alt"});
}

TEST_CASE("after a deep scan, deletion opens each folder's parent and nothing else")
{
    Run run = Krvn("delete --all --format csv", "profile P default\n  store S default\n    finder F\n"
                                                "      folder G\n        folder x search id=01\n      folder y search id=02\n");
    CHECK(run.code == 0);
    std::vector<std::string> calls;
    for (const std::string& line : SplitLines(run.log))
        if (line.compare(0, 10, "OpenEntry ") == 0 || line.compare(0, 13, "DeleteFolder ") == 0) calls.push_back(line);
    CHECK(calls == std::vector<std::string>{  // the finder for the scan; then each folder's parent, named by the deep table
                       "OpenEntry on=\"P/S\" target=\"P/S/F\" iid=null flags=0x00000001 -> 0x00000000",
                       "OpenEntry on=\"P/S\" target=\"P/S/F/G\" iid=null flags=0x00000001 -> 0x00000000",
                       "DeleteFolder on=\"P/S/F/G\" target=\"P/S/F/G/x\" ui=null progress=null flags=0x00000004 -> 0x00000000",
                       "OpenEntry on=\"P/S\" target=\"P/S/F\" iid=null flags=0x00000001 -> 0x00000000",
                       "DeleteFolder on=\"P/S/F\" target=\"P/S/F/y\" ui=null progress=null flags=0x00000004 -> 0x00000000"});
}
