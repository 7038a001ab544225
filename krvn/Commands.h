// krvn's four commands over MAPI, MAPI being initialised. Each writes its
// report to standard output and its trouble to standard error, and returns
// the exit code.
#pragma once
#include "CommandLine.h"

enum ExitCode { kExitOk = 0, kExitDeletionFailed = 1, kExitUsage = 2, kExitUnreachable = 3 };

int RunCommand(const Options& options);
