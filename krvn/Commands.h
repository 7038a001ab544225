// krvn's commands over MAPI. Each writes its report to standard output and
// its trouble to standard error, and returns the exit code.
#pragma once
#include "CommandLine.h"
#include "ExitCodes.h"


// Runs the command of |options| (parsed from |arguments|): initialises MAPI,
// opens the --log file first when there is one and appends the run's record
// to it at the end.
int RunCommand(const Options& options, const std::vector<std::wstring>& arguments);
