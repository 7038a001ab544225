#include "Files.h"

#include <shlobj.h>

#include "Conversions.h"

std::wstring ExpandPath(const std::wstring& path)
{
    DWORD length = ExpandEnvironmentStringsW(path.c_str(), nullptr, 0);
    std::wstring expanded(length ? length : 1, L'\0');
    if (!length || !ExpandEnvironmentStringsW(path.c_str(), &expanded[0], length)) expanded = path + L'\0';
    expanded.resize(expanded.size() - 1);
    length = GetFullPathNameW(expanded.c_str(), 0, nullptr, nullptr);
    std::wstring full(length ? length : 1, L'\0');
    if (!length || !GetFullPathNameW(expanded.c_str(), length, &full[0], nullptr)) return expanded;
    full.resize(full.find(L'\0'));
    return full;
}

AppendFile::~AppendFile()
{
    Close();
}

void AppendFile::Close()
{
    if (IsOpen()) CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
}

bool AppendFile::Open(const std::wstring& path, const std::wstring& what, std::wstring& error)
{
    m_path = ExpandPath(path);
    // Every folder on the way, from a drive, a share or the current folder on.
    size_t folder = m_path.find_last_of(L"\\/");
    if (folder != std::wstring::npos && folder > 0) SHCreateDirectoryExW(nullptr, m_path.substr(0, folder).c_str(), nullptr);
    // Appending only: every write lands at the end, whoever else appends. Read
    // access lets the runs take turns by a lock (where it is refused, the
    // append alone must do).
    for (DWORD access : {GENERIC_READ | FILE_APPEND_DATA, DWORD(FILE_APPEND_DATA)}) {
        m_file = CreateFileW(m_path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        m_created = GetLastError() != ERROR_ALREADY_EXISTS;
        if (IsOpen()) return true;
    }
    error = what + L" '" + m_path + L"' cannot be opened for appending (" + SystemError(GetLastError()) + L")";
    return false;
}

bool AppendFile::Append(const std::string& bytes)
{
    // Not every system appends a write whole while another process appends
    // (Wine finds the end, then writes there): runs take turns by a lock on a
    // byte far past any record.
    OVERLAPPED turn = {};
    turn.Offset = 0xFFFFFFFE;
    turn.OffsetHigh = 0x7FFFFFFF;
    bool locked = LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn) != FALSE;
    DWORD written = 0;
    bool ok = bytes.size() <= MAXDWORD && WriteFile(m_file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    if (locked) UnlockFileEx(m_file, 0, 1, 0, &turn);
    return ok;
}

bool AppendFile::Flush()
{
    return FlushFileBuffers(m_file) != FALSE;
}
