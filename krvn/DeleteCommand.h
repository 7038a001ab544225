// krvn delete: the selected search folders backed up, then deleted in krvn's order.
#pragma once
#include "CommandLine.h"
#include "Reporting.h"

int DeleteCommand(const Options& options, Record& record);
