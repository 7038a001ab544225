#include "AuditLog.h"

#include <windows.h>
#include <lmcons.h>

#include "Conversions.h"

Table RunRecord(const std::vector<std::wstring>& arguments)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    FILETIME time;
    SystemTimeToFileTime(&now, &time);
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"", user[UNLEN + 1] = L"";
    DWORD computerLength = MAX_COMPUTERNAME_LENGTH + 1, userLength = UNLEN + 1;
    GetComputerNameW(computer, &computerLength);
    GetUserNameW(user, &userLength);
    Table record;
    record.fields = {"time", "computer", "user", "command"};
    record.rows.push_back({TextField(UtcText(time)), TextField(computer), TextField(user), ListField(arguments)});
    return record;
}
