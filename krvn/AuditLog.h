// The audit trail of delete and check: one JSON object per run, on one line,
// appended to a file that many runs may share at once.
#pragma once
#include <windows.h>

#include <string>

#include "Records.h"

class AuditLog {
public:
    AuditLog() = default;
    ~AuditLog();
    AuditLog(const AuditLog&) = delete;
    AuditLog& operator=(const AuditLog&) = delete;

    // Opens |path| for appending, its environment references (%TEMP%,
    // %LOCALAPPDATA%, …) expanded and its folder made; false with |error|.
    bool Open(const std::wstring& path, std::wstring& error);
    bool IsOpen() const { return m_file != INVALID_HANDLE_VALUE; }
    const std::wstring& Path() const { return m_path; }
    // Appends |line| and a line break in one write, so that the records of
    // runs appending at once never interleave; false when it could not be
    // written whole.
    bool Append(const std::wstring& line);

private:
    HANDLE m_file = INVALID_HANDLE_VALUE;
    std::wstring m_path;
};

// What a run's record says besides what the command adds: when, where, who
// and what was asked.
Table RunRecord(const std::vector<std::wstring>& arguments);
