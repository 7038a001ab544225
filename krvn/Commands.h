// krvn's commands over MAPI, MAPI being initialised. Each writes its report
// to standard output and its trouble to standard error, and returns the exit
// code.
#pragma once
#include "CommandLine.h"

enum ExitCode {
    kExitOk = 0,
    kExitDeletionFailed = 1,
    kExitUsage = 2,
    kExitUnreachable = 3,  // also: the scan could not reach everything
    kExitOutput = 4,       // the output could not be written
    kExitInterrupted = 5,  // Ctrl+C or Ctrl+Break during a deletion
};

int RunCommand(const Options& options);
