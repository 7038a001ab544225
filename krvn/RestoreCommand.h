// krvn restore: search folders made again from a backup that delete wrote.
#pragma once
#include "CommandLine.h"
#include "Reporting.h"

int RestoreCommand(const Options& options, Record& record);
