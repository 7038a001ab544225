// krvn's commands over MAPI. Each writes its report to standard output and
// its trouble to standard error, and returns the exit code.
#pragma once
#include "CommandLine.h"

enum ExitCode {
    kExitOk = 0,
    kExitDeletionFailed = 1,
    kExitCheckExceeded = 1,  // check: more search folders match than the limit
    kExitUsage = 2,
    kExitUnreachable = 3,  // also: the scan could not reach everything
    kExitOutput = 4,       // the output could not be written
    kExitInterrupted = 5,  // Ctrl+C or Ctrl+Break during a deletion
};

// Runs the command of |options| (parsed from |arguments|): initialises MAPI,
// opens the --log file first when there is one and appends the run's record
// to it at the end.
int RunCommand(const Options& options, const std::vector<std::wstring>& arguments);
