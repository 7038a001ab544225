// The audit trail of delete, check and restore: one JSON object per run, on
// one line, appended to a file (an AppendFile) that many runs may share at once.
#pragma once
#include <string>
#include <vector>

#include "Records.h"

// What a run's record says besides what the command adds: when, where, who
// and what was asked.
Table RunRecord(const std::vector<std::wstring>& arguments);
