// krvn.exe as a process, against mapisim: each command and format, selection, deletion with its stop rule,
// damaged and odd stores, one order whatever the provider, and the exit codes with their messages. After
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
    "      folder \"C:\\\\Temp\" search id=1617\n"
    "  store Archiv id=AA01\n    finder F\n      folder alt search id=1415\n"
    "profile Zweit missing=default\n  store S default id=AB00\nprofile Locked fail=Logon:0x80040111\n  store T default\n";

struct Run { int code; std::string out, err, log, storeAfter; };

// Runs |command| on a fresh copy of |store|; mapisim's report must then be clean.
Run Start(const std::string& command, const std::string& store = kStore, Io io = Io::Files,
          bool (*whileRunning)(void*) = nullptr, void* context = nullptr)
{
    MapiSim files(store, true, false);  // MAPI is the command's
    ProcessRun run = RunProcess(command, io, whileRunning, context);
    std::string report = files.ReportText();
    CAPTURE(command);
    CHECK((report.empty() || (Contains(report, "live_objects=0\nlive_allocations=0\nsessions_open=0\n") && Contains(report, "\nmisuses=0\n"))));
    return {run.code, run.out, run.err, ReadTextFile(files.logPath), files.StoreText()};
}

Run Krvn(const std::string& args, const std::string& store = kStore, Io io = Io::Files)
{
    return Start("\"" + ProgramFolder() + "krvn.exe\" " + args, store, io);
}

std::string Store(const std::string& finder, const std::string& body)
{
    return "profile P default\n  store S default\n    finder " + finder + "\n" + body;
}

// The name column of csv records, in order.
std::vector<std::string> Names(const std::string& csv)
{
    std::vector<std::string> names;
    for (const std::string& line : SplitLines(csv))
        if (line.compare(0, 4, "P,S,") == 0) names.push_back(line.substr(4, line.find(',', 4) - 4));
    return names;
}

const char* const kListCsv =
    "profile,store,name,path,entryid\r\n"
    "B\xC3\xBCro,Postfach J\xC3\xBCrgen,C:\\Temp,/Finder,1617\r\n"
    "B\xC3\xBCro,Postfach J\xC3\xBCrgen,\"Ungelesen, \"\"wichtig\"\"\",/Finder,0A0B\r\n"
    "B\xC3\xBCro,Postfach J\xC3\xBCrgen,Chef,/Finder/A/B,1213\r\n"
    "B\xC3\xBCro,Postfach J\xC3\xBCrgen,\"Tab\tund\nZeile\",/Finder/A/B,1011\r\n";

} // namespace

TEST_CASE("every command and format prints the exact records")
{
    const struct { const char* args; const char* out; } cases[] = {
        // A profile row without its default flag is a profile that is not the default.
        {"profiles", "name    default\r\nB\xC3\xBCro    true\r\nZweit   false\r\nLocked  false\r\n3 profiles\r\n"},
        {"profiles --format json", "[\r\n  {\"name\": \"B\xC3\xBCro\", \"default\": true},\r\n  {\"name\": \"Zweit\", \"default\": false},\r\n"
         "  {\"name\": \"Locked\", \"default\": false}\r\n]\r\n"},
        {"stores --format csv", "profile,name,default,entryid\r\nB\xC3\xBCro,Postfach J\xC3\xBCrgen,true,AA00\r\nB\xC3\xBCro,Archiv,false,AA01\r\n"},
        {"stores -p zweit --format json", "[\r\n  {\"profile\": \"Zweit\", \"name\": \"S\", \"default\": true, \"entryid\": \"AB00\"}\r\n]\r\n"},
        {"list", "profile  store            name                  path         entryid\r\n"
                 "B\xC3\xBCro     Postfach J\xC3\xBCrgen  C:\\Temp               /Finder      1617\r\n"
                 "B\xC3\xBCro     Postfach J\xC3\xBCrgen  Ungelesen, \"wichtig\"  /Finder      0A0B\r\n"
                 "B\xC3\xBCro     Postfach J\xC3\xBCrgen  Chef                  /Finder/A/B  1213\r\n"
                 "B\xC3\xBCro     Postfach J\xC3\xBCrgen  Tab\tund\nZeile         /Finder/A/B  1011\r\n"
                 "4 search folders\r\n"},
        {"list --format csv", kListCsv},
        {"list -p B\xC3\x9CRO -s \"postfach j\xC3\xBCrgen\" --exact-walk --format csv", kListCsv},
        {"list --format json",
         "[\r\n"
         "  {\"profile\": \"B\xC3\xBCro\", \"store\": \"Postfach J\xC3\xBCrgen\", \"name\": \"C:\\\\Temp\", \"path\": \"/Finder\", \"entryid\": \"1617\"},\r\n"
         "  {\"profile\": \"B\xC3\xBCro\", \"store\": \"Postfach J\xC3\xBCrgen\", \"name\": \"Ungelesen, \\\"wichtig\\\"\", \"path\": \"/Finder\", \"entryid\": \"0A0B\"},\r\n"
         "  {\"profile\": \"B\xC3\xBCro\", \"store\": \"Postfach J\xC3\xBCrgen\", \"name\": \"Chef\", \"path\": \"/Finder/A/B\", \"entryid\": \"1213\"},\r\n"
         "  {\"profile\": \"B\xC3\xBCro\", \"store\": \"Postfach J\xC3\xBCrgen\", \"name\": \"Tab\\tund\\nZeile\", \"path\": \"/Finder/A/B\", \"entryid\": \"1011\"}\r\n"
         "]\r\n"},
        {"list --store-id aa01 --format csv", "profile,store,name,path,entryid\r\nB\xC3\xBCro,Archiv,alt,/F,1415\r\n"},
        {"list --name c* --id 0a0b --format csv", "profile,store,name,path,entryid\r\n"
                                                 "B\xC3\xBCro,Postfach J\xC3\xBCrgen,C:\\Temp,/Finder,1617\r\n"
                                                 "B\xC3\xBCro,Postfach J\xC3\xBCrgen,\"Ungelesen, \"\"wichtig\"\"\",/Finder,0A0B\r\n"
                                                 "B\xC3\xBCro,Postfach J\xC3\xBCrgen,Chef,/Finder/A/B,1213\r\n"},
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
        {"delete --all", {"0A0B", "1011", "1213", "1617"}},
        {"delete --name c?EF --name \"ungelesen*\"", {"0A0B", "1213"}},
        {"delete --id 1011 --id 1415 --id 0a0b", {"0A0B", "1011"}},  // 1415 is in another store; any case
        {"delete --all --all-stores", {"0A0B", "1011", "1213", "1415", "1617"}},
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
        for (const char* id : {"0A0B", "0C0D", "1011", "1213", "1415", "1617"}) {
            bool gone = std::find(c.deleted.begin(), c.deleted.end(), id) != c.deleted.end();
            CHECK(Contains(run.storeAfter, std::string("id=") + id) != gone);
            CHECK(Contains(run.out, std::string(",") + id + ",deleted,\r\n") == gone);
            CHECK(Contains(dry.out, std::string(",") + id + ",would-delete,\r\n") == gone);
        }
    }
}

TEST_CASE("only S_OK is a deletion; a failure stops the rest, or not with --keep-going")
{
    const std::string store = Store("F", "      folder one search id=01\n      folder two search id=02 fail=DeleteFolder:0x80070005\n"
                                         "      folder three search id=03\n      folder zwei search id=04 fail=DeleteFolder:0x00040680\n");
    Run stop = Krvn("delete --all --format csv", store);
    CHECK(stop.code == 1);
    CHECK(stop.out == "profile,store,name,path,entryid,outcome,hr\r\n"
                      "P,S,one,/F,01,deleted,\r\nP,S,three,/F,03,deleted,\r\nP,S,two,/F,02,failed,0x80070005\r\nP,S,zwei,/F,04,not-reached,\r\n");
    Run on = Krvn("delete --all --keep-going --format json", store);
    CHECK(on.code == 1);
    // A warning such as a partial completion may leave the folder there: it is no deletion.
    CHECK(Contains(on.out, "\"name\": \"zwei\", \"path\": \"/F\", \"entryid\": \"04\", \"outcome\": \"failed\", \"hr\": \"0x00040680\"}"));
    CHECK(Contains(on.out, "\"deleted\": 2,\r\n  \"failed\": 2,\r\n  \"would_delete\": 0,\r\n  \"not_reached\": 0,\r\n  \"incomplete\": []\r\n}\r\n"));
    CHECK(FolderNames(on.storeAfter) == std::vector<std::string>{"two", "zwei"});
    CHECK(Contains(Krvn("delete --all", store).out, "\r\ndeleted 2, failed 1, would delete 0, not reached 1\r\n"));
}

TEST_CASE("exit codes 2 and 3 with a message naming the trouble, after what could be done; help and version")
{
    const std::string odd = "profile P default\n  store \"\xE4\xB8\xAD\xE5\x9B\xBD\" id=C1\n    finder F\n      folder x search id=01\n"
                            "  store Twin default id=D1\n    finder F\n      folder t1 search id=03\n  store twin id=D2\n    finder F\n"
                            "      folder t2 search id=04\n  store Nameless missing=name id=E1\n  store NoId missing=entryid\n";
    const struct { const char* args; std::string store; int code; const char* err; const char* out = ""; } cases[] = {
        {"", "", 2, "krvn: no command given\r\nTry 'krvn --help'.\r\n"},
        {"bogus", "", 2, "krvn: unknown command 'bogus'\r\n"},
        {"delete", "", 2, "'delete' needs --all, --name PATTERN or --id HEX"},
        {"delete --all --name x", "", 2, "'--all' excludes"},
        {"list --format xml", "", 2, "unknown format 'xml'"},
        {"list -p", "", 2, "'-p' needs a value"},
        {"delete --all --id 0G", "", 2, "'--id 0G' is not an entry identifier in hex"},
        {"delete --all --id \"\"", "", 2, "'--id ' is not an entry identifier in hex"},
        {"list --id \xEF\xBC\x91\xEF\xBC\x92", "", 2, "is not an entry identifier in hex"},  // full-width digits
        {"list --store-id AA -s x", "", 2, "'-s', '--store-id' and '--all-stores' exclude each other"},
        {"list -p Nobody", kStore, 3, "krvn: no profile named 'Nobody'\r\n"},
        {"list -s Nowhere", kStore, 3, "krvn: no store named 'Nowhere' in profile 'B\xC3\xBCro'\r\n"},
        {"list -p zweit", kStore, 3, "krvn: store 'S' has no finder folder that could be opened (hr=0x80004005)\r\n"},
        {"stores -p Locked", kStore, 3, "krvn: the logon to profile 'Locked' failed (hr=0x80040111)\r\n"},
        {"list", "profile P\n", 3, "krvn: there is no default profile\r\n"},
        {"list", "mapi fail=MAPIInitialize:0x80004005\n", 3, "krvn: MAPI could not be initialised (hr=0x80004005)"},
        {"list", "profile P default\n  store S default fail=OpenMsgStore:0x80040115\n", 3,
         "krvn: store 'S' could not be opened (hr=0x80040115)\r\n"},
        {"list --all-stores --format csv", "profile P default\n  store Good default\n    finder F\n      folder x search id=01\n  store Bad\n", 3,
         "krvn: store 'Bad' has no finder folder that could be opened (hr=0x80004005); left out\r\n", "profile,store,name,path,entryid\r\nP,Good,x,/F,01\r\n"},
        {"delete --all --all-stores --format csv", "profile P default\n  store Bad\n  store Good default\n    finder F\n      folder x search id=01\n", 3,
         "krvn: store 'Bad' has no finder folder that could be opened (hr=0x80004005); left out\r\n",
         "profile,store,name,path,entryid,outcome,hr\r\nP,Good,x,/F,01,deleted,\r\n"},
        // Store names outside the ANSI code page, two stores of one name, rows without a name or an identifier.
        {"list -s \xE4\xB8\xAD\xE5\x9B\xBD --format csv", odd, 0, "", "profile,store,name,path,entryid\r\nP,\xE4\xB8\xAD\xE5\x9B\xBD,x,/F,01\r\n"},
        {"list -s TWIN", odd, 2, "krvn: 2 stores of profile 'P' are named 'TWIN' (entryid D1, D2); choose one with --store-id HEX\r\n"},
        {"list --store-id d2 --format csv", odd, 0, "", "profile,store,name,path,entryid\r\nP,twin,t2,/F,04\r\n"},
        {"list --all-stores --format csv", odd, 3,
         "krvn: a store of profile 'P' has no name in the store table (entryid E1); left out\r\n"
         "krvn: a store of profile 'P' has no entry identifier in the store table ('NoId'); left out\r\n",
         "profile,store,name,path,entryid\r\nP,\xE4\xB8\xAD\xE5\x9B\xBD,x,/F,01\r\nP,Twin,t1,/F,03\r\nP,twin,t2,/F,04\r\n"},
        {"list -s noid", odd, 3, "krvn: store 'NoId' has no entry identifier in the store table; it cannot be opened\r\n"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.args);
        Run run = Krvn(c.args, c.store);
        CHECK(run.code == c.code);
        CHECK(Contains(run.err, c.err));
        CHECK(run.out == c.out);
    }
    Run none = Krvn("profiles", "");
    CHECK(none.code == 0);
    CHECK(none.out == "0 profiles\r\n");
    std::string help = Krvn("--help").out;
    CHECK(Contains(help, "krvn delete   [-p PROFILE]"));
    CHECK(Contains(help, "[--exact-walk]"));
    CHECK(Contains(help, "4 the output could not be written"));
    CHECK(Krvn("--version").out == "krvn 1.0.0.1\r\n");
}

TEST_CASE("a damaged store: everything reached is listed and acted on, each damaged place reported, exit 3")
{
    const std::string g = "      folder G", below = "\n        folder g1 search id=11\n        folder g2 search id=12\n";
    const std::string siblings = "      folder a search id=01\n" + g + "%" + below + "      folder z search id=02\n";
    auto with = [&](const std::string& attributes) {
        std::string body = siblings;
        return body.replace(body.find('%'), 1, attributes);
    };
    // |walk| and |deep|: the names listed and the trouble reported; the deep table reaches more where
    // only the opening or reading of a folder fails, as it needs neither.
    const struct { std::string finder, body; std::vector<std::string> walk; const char* walkErr; std::vector<std::string> deep; const char* deepErr; } cases[] = {
        {"F", with(" fail=GetHierarchyTable:0x80040115"), {"a", "z"}, "not everything in /F/G was reached: GetHierarchyTable failed (hr=0x80040115)",
         {"a", "z", "g1", "g2"}, ""},
        {"F", with(" fail=Open:0x8004010f"), {"a"}, "not everything in /F was reached: OpenEntry failed (hr=0x8004010F)",
         {"a", "z", "g1", "g2"}, ""},
        {"F", with(" fail=GetProps:0x80040115"), {"a", "z"}, "not everything in /F was reached: GetProps failed (hr=0x80040115)",
         {"a", "z", "g1", "g2"}, ""},
        {"F", with(" missing=name"), {"a", "z"}, "not everything in /F was reached: a folder lacks its name, folder type or entry identifier (hr=0x80004005)",
         {"a", "z"}, "not everything in /F was reached: a folder lacks its name, folder type or entry identifier (hr=0x8004010F)"},
        {"F", with(" missing=entryid"), {"a"}, "not everything in /F was reached: a folder's row has no entry identifier (hr=0x80004005)",
         {"a", "z"}, "not everything in /F was reached: a folder's row has no entry identifier (hr=0x8004010F)"},
        {"F nodeep=0x80040102 batch=2 fail=QueryRows:0x80040115@2", with(""), {"a", "g1", "g2"},
         "not everything in /F was reached: QueryRows failed (hr=0x80040115)", {"a", "g1", "g2"},
         "not everything in /F was reached: QueryRows failed (hr=0x80040115)"},
        {"F fail=GetProps:0x80040115", with(""), {}, "the finder folder could not be read: GetProps failed (hr=0x80040115)",
         {}, "the finder folder could not be read: GetProps failed (hr=0x80040115)"},
    };
    for (const auto& c : cases) {
        for (bool walk : {true, false}) {
            CAPTURE(c.finder + c.body);
            CAPTURE(walk);
            std::string store = Store(c.finder, c.body), err = walk ? c.walkErr : c.deepErr;
            Run run = Krvn(std::string("list --format csv") + (walk ? " --exact-walk" : ""), store);
            std::vector<std::string> expected = walk ? c.walk : c.deep;
            std::sort(expected.begin(), expected.end());
            std::vector<std::string> listed = Names(run.out);
            std::sort(listed.begin(), listed.end());
            CHECK(listed == expected);
            CHECK(run.code == (err.empty() ? 0 : 3));
            CHECK(run.err == (err.empty() ? "" : "krvn: store 'S': " + err + "\r\n"));
        }
    }
    // A deletion acts on what was reached, and its record says what was not.
    Run run = Krvn("delete --all --format json", Store("F nodeep=0x80040102 batch=2 fail=QueryRows:0x80040115@2", with("")));
    CHECK(run.code == 3);
    CHECK(FolderNames(run.storeAfter) == std::vector<std::string>{"G", "z"});
    CHECK(Contains(run.out, "\"incomplete\": [\r\n    {\"store\": \"S\", \"path\": \"/F\", \"step\": \"QueryRows\", \"hr\": \"0x80040115\"}\r\n  ]\r\n}\r\n"));
}

TEST_CASE("a provider that cuts its rows' identifiers or names never makes krvn reach another folder")
{
    // Cut identifiers collide, or no longer name the finder: the walk decides. Cut names are read from the folders.
    const std::string collide = Store("F id=0F tablecut=2", "      folder A search id=0102\n      folder B search id=010203\n");
    Run b = Krvn("delete --name B --format csv", collide);
    CHECK(b.out == "profile,store,name,path,entryid,outcome,hr\r\nP,S,B,/F,010203,deleted,\r\n");
    CHECK(FolderNames(b.storeAfter) == std::vector<std::string>{"A"});
    const std::string longIds = Store("F id=00112233445566778899AABBCCDDEEFF tablecut=10",
                                      "      folder A search id=0102030405060708090A0B0C0D0E0F10\n"
                                      "      folder B search id=1112131415161718191A1B1C1D1E1F20\n");
    Run all = Krvn("delete --all --format csv", longIds);
    CHECK(all.code == 0);
    CHECK(FolderNames(all.storeAfter).empty());
    const std::string names = Store("F id=0F tablecut=3", "      folder CRM-keep search id=01\n      folder CRM-gone search id=02\n");
    Run gone = Krvn("delete --name crm-gone --format csv", names);
    CHECK(gone.out == "profile,store,name,path,entryid,outcome,hr\r\nP,S,CRM-gone,/F,02,deleted,\r\n");
    CHECK(FolderNames(gone.storeAfter) == std::vector<std::string>{"CRM-keep"});
}

TEST_CASE("one order of records, folder by folder, whatever order the provider hands out; deletion follows it")
{
    const std::string body = "      folder zeta search id=01\n      folder Beta\n        folder b2 search id=02\n        folder B1 search id=03\n"
                             "      folder alpha search id=04\n      folder \"a b\"\n        folder x search id=05\n"
                             "      folder a\n        folder b\n          folder y search id=06 fail=DeleteFolder:0x80070005\n";
    const char* const expected = "profile,store,name,path,entryid,outcome,hr\r\n"
                                 "P,S,alpha,/F,04,deleted,\r\nP,S,zeta,/F,01,deleted,\r\nP,S,y,/F/a/b,06,failed,0x80070005\r\n"
                                 "P,S,x,/F/a b,05,not-reached,\r\nP,S,B1,/F/Beta,03,not-reached,\r\nP,S,b2,/F/Beta,02,not-reached,\r\n";
    for (const char* provider : {"", " deeporder=breadth", " deeporder=reverse", " depthbase=0", " nodeep=0x80040102"}) {
        for (const char* walk : {"", " --exact-walk"}) {
            CAPTURE(provider);
            CAPTURE(walk);
            Run run = Krvn(std::string("delete --all --format csv") + walk, Store(std::string("F") + provider, body));
            CHECK(run.out == expected);
            CHECK(FolderNames(run.storeAfter) == std::vector<std::string>{"Beta", "b2", "B1", "a b", "x", "a", "b", "y"});
        }
    }
}

TEST_CASE("a provider's success without the object it hands out is a failure, never a crash")
{
    const struct { std::string store; const char* args; int code; const char* err; } cases[] = {
        {"mapi fail=MAPIAdminProfiles:0x0\n", "profiles", 3, "the profile table could not be read (hr=0x80004005)"},
        {"profile P default fail=Logon:0x0\n", "stores", 3, "the logon to profile 'P' failed (hr=0x80004005)"},
        {"profile P default fail=GetMsgStoresTable:0x0\n", "stores", 3, "the stores of profile 'P' could not be read (hr=0x80004005)"},
        {"profile P default\n  store S default fail=OpenMsgStore:0x0\n", "list", 3, "store 'S' could not be opened (hr=0x80004005)"},
        {Store("F fail=Open:0x0", ""), "list", 3, "store 'S' has no finder folder that could be opened (hr=0x80004005)"},
        {Store("F fail=GetHierarchyTable:0x0", "      folder x search\n"), "list", 3, "not everything in /F was reached: GetHierarchyTable failed (hr=0x80004005)"},
        {Store("F fail=QueryRows:0x0", "      folder x search\n"), "list", 3, "not everything in /F was reached: QueryRows failed (hr=0x80004005)"},
        {Store("F", "      folder G fail=Open:0x0\n        folder x search\n"), "list --exact-walk", 3, "not everything in /F was reached: OpenEntry failed (hr=0x80004005)"},
        {Store("F fail=Open:0x0@2", "      folder x search\n"), "delete --all", 1, ""},  // the parent, opened to delete from
    };
    for (const auto& c : cases) {
        CAPTURE(c.store);
        Run run = Krvn(c.args, c.store);
        CHECK(run.code == c.code);
        CHECK(Contains(run.err, c.err));
    }
}

TEST_CASE("output that cannot be written: exit 4 after the work, and the reason on standard error")
{
    Run run = Krvn("delete --all --format csv", Store("F", "      folder x search\n"), Io::ReadOnlyOut);
    CHECK(run.code == 4);
    CHECK(Contains(run.err, "krvn: the output could not be written (error "));
    CHECK(FolderNames(run.storeAfter).empty());
}

TEST_CASE("on a console: the progress line is gone before the records; Ctrl+C lets the deletion in hand finish, exit 5")
{
    OnConsole();
    ClearConsole();
    Run list = Krvn("list --format csv", kStore, Io::Console);
    CHECK(list.code == 0);
    CHECK(ConsoleText().compare(0, 32, L"profile,store,name,path,entryid\n") == 0);

    std::string body;
    for (int i = 0; i < 6; ++i) body += "      folder s" + std::to_string(i) + " search\n";
    struct Watch { std::string log; bool pressed; } watch;
    MapiSim files(Store("F", body), true, false);
    watch = {files.logPath, false};
    // Each call takes 200 ms; once the first folder is gone, Ctrl+C.
    SetEnvironmentVariableA("MAPISIM_LATENCY_US", "200000");
    ProcessRun run = RunProcess("\"" + ProgramFolder() + "krvn.exe\" delete --all --format csv", Io::FilesOnConsole, [](void* context) {
        Watch& w = *static_cast<Watch*>(context);
        if (!Contains(ReadTextFile(w.log), "DeleteFolder ")) return true;
        PressCtrlC();
        return false;
    }, &watch);
    SetEnvironmentVariableA("MAPISIM_LATENCY_US", nullptr);
    CHECK(run.code == 5);
    std::vector<std::string> outcomes;  // the outcome and hr fields of each record
    for (const std::string& line : SplitLines(run.out))
        if (line.compare(0, 4, "P,S,") == 0) outcomes.push_back(line.substr(line.find(',', line.find(",/F,") + 4) + 1));
    REQUIRE(outcomes.size() == 6);
    size_t deleted = std::count(outcomes.begin(), outcomes.end(), "deleted,");
    CHECK((deleted >= 1 && deleted < 6));
    CHECK(std::count(outcomes.begin(), outcomes.end(), "not-reached,") == long(6 - deleted));
    CHECK(FolderNames(files.StoreText()).size() == 6 - deleted);
}

TEST_CASE("the sample scripts under cmd: detection gives 1 over its threshold, remediation deletes what matches")
{
    auto sample = [](const char* script, const char* args) { return Start("cmd.exe /c \"" + ProgramFolder() + script + "\" " + args); };
    CHECK(sample("detect.cmd", "3").code == 1);
    CHECK(sample("detect.cmd", "4").code == 0);
    CHECK(FolderNames(sample("remediate.cmd", "c*").storeAfter) ==
          std::vector<std::string>{"Ungelesen, \"wichtig\"", "Gr\xC3\xB6\xC3\x9F" "er als 5 MB", "A/B", "Tab\tund\nZeile", "alt"});
}

TEST_CASE("after a deep scan, deletion opens each parent once, from the identifier its table row names, and nothing else")
{
    Run run = Krvn("delete --all --format csv", Store("F", "      folder G\n        folder x1 search id=01\n        folder x2 search id=03\n"
                                                         "      folder y search id=02\n"));
    CHECK(run.code == 0);
    std::vector<std::string> calls;
    for (const std::string& line : SplitLines(run.log))
        if (line.compare(0, 10, "OpenEntry ") == 0 || line.compare(0, 13, "DeleteFolder ") == 0) calls.push_back(line);
    CHECK(calls == std::vector<std::string>{  // the finder for the scan, the longest name's folder for its check; then the parents
                       "OpenEntry on=\"P/S\" target=\"P/S/F\" iid=null flags=0x00000001 -> 0x00000000",
                       "OpenEntry on=\"P/S\" target=\"P/S/F/G/x1\" iid=null flags=0x00000000 -> 0x00000000",
                       "OpenEntry on=\"P/S\" target=\"P/S/F\" iid=null flags=0x00000001 -> 0x00000000",
                       "DeleteFolder on=\"P/S/F\" target=\"P/S/F/y\" ui=null progress=null flags=0x00000004 -> 0x00000000",
                       "OpenEntry on=\"P/S\" target=\"P/S/F/G\" iid=null flags=0x00000001 -> 0x00000000",
                       "DeleteFolder on=\"P/S/F/G\" target=\"P/S/F/G/x1\" ui=null progress=null flags=0x00000004 -> 0x00000000",
                       "DeleteFolder on=\"P/S/F/G\" target=\"P/S/F/G/x2\" ui=null progress=null flags=0x00000004 -> 0x00000000"});
}
