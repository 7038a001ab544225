#include "AuditLog.h"

#include <lmcons.h>

namespace {

std::wstring SystemError(DWORD error)
{
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring message = text ? text : L"error " + std::to_wstring(error);
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.')) message.pop_back();
    return message;
}

// Makes every folder on the way to |path|'s own folder.
void MakeFolders(const std::wstring& path)
{
    for (size_t at = path.find_first_of(L"\\/", 3); at != std::wstring::npos; at = path.find_first_of(L"\\/", at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
}

} // namespace

AuditLog::~AuditLog()
{
    if (IsOpen()) CloseHandle(m_file);
}

bool AuditLog::Open(const std::wstring& path, std::wstring& error)
{
    DWORD length = ExpandEnvironmentStringsW(path.c_str(), nullptr, 0);
    m_path.assign(length ? length : 1, L'\0');
    if (!length || !ExpandEnvironmentStringsW(path.c_str(), &m_path[0], length)) m_path = path + L'\0';
    m_path.resize(m_path.size() - 1);
    MakeFolders(m_path);
    // Appending only: every write lands at the end, whoever else appends. Read
    // access lets the runs take turns by a lock (where it is refused, the
    // append alone must do).
    for (DWORD access : {GENERIC_READ | FILE_APPEND_DATA, DWORD(FILE_APPEND_DATA)}) {
        m_file = CreateFileW(m_path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (IsOpen()) return true;
    }
    error = L"the log file '" + m_path + L"' cannot be opened for appending (" + SystemError(GetLastError()) + L")";
    return false;
}

bool AuditLog::Append(const std::wstring& line)
{
    std::string bytes = ToUtf8(line + L"\r\n");
    // Not every system appends a write whole while another process appends
    // (Wine finds the end, then writes there): runs take turns by a lock on a
    // byte far past any record.
    OVERLAPPED turn = {};
    turn.Offset = 0xFFFFFFFE;
    turn.OffsetHigh = 0x7FFFFFFF;
    bool locked = LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn) != FALSE;
    DWORD written = 0;
    bool ok = WriteFile(m_file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    if (locked) UnlockFileEx(m_file, 0, 1, 0, &turn);
    return ok;
}

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
