// krvn.exe as a process against mapisim, for the tests of its commands: each run on a fresh copy
// of a store file, mapisim's report checked clean after it.
#pragma once
#include <doctest/doctest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "Support.h"

struct Run { int code; std::string out, err, log, storeAfter; };

// Runs |command| on a fresh copy of |store|; mapisim's report must then be clean.
inline Run Start(const std::string& command, const std::string& store, Io io = Io::Files,
                 bool (*whileRunning)(void*) = nullptr, void* context = nullptr)
{
    MapiSim files(store, true, false);  // MAPI is the command's
    ProcessRun run = RunProcess(command, io, whileRunning, context);
    CAPTURE(command);
    CHECK((files.ReportText().empty() || files.Finish()));
    return {run.code, run.out, run.err, ReadTextFile(files.logPath), files.StoreText()};
}

inline Run Krvn(const std::string& args, const std::string& store, Io io = Io::Files)
{
    return Start("\"" + ProgramFolder() + "krvn.exe\" " + args, store, io);
}

inline std::string Store(const std::string& finder, const std::string& body)
{
    return "profile P default\n  store S default\n    finder " + finder + "\n" + body;
}

// A field of every record in krvn's json (a list's array, or a deletion's "folders").
inline std::vector<std::string> JsonColumn(const std::string& json, const std::string& field)
{
    JsonFlat flat;
    CHECK(ReadJson(json, flat));
    std::string records = flat.count("folders.#") ? "folders." : "";
    std::vector<std::string> cells;
    for (int i = 0; i < atoi(flat[records + "#"].c_str()); ++i) cells.push_back(flat[records + std::to_string(i) + "." + field]);
    return cells;
}
