// krvn summary: per store, the search folders, the empty ones, their span,
// and the groups their names fall into.
#pragma once
#include "CommandLine.h"

int SummaryCommand(const Options& options);
