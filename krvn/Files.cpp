#include "Files.h"

#include <shlobj.h>

#include <algorithm>

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
    for (DWORD access : {GENERIC_READ | FILE_APPEND_DATA, DWORD(FILE_APPEND_DATA | FILE_READ_ATTRIBUTES)}) {
        m_file = CreateFileW(m_path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        m_error = GetLastError();
        m_created = m_error != ERROR_ALREADY_EXISTS;
        if (IsOpen()) return true;
    }
    error = what + L" '" + m_path + L"' cannot be opened for appending (" + SystemError(m_error) + L")";
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
    m_error = ERROR_SUCCESS;
    m_before.QuadPart = 0;
    bool ok = GetFileSizeEx(m_file, &m_before) != FALSE;
    if (!ok) m_error = GetLastError();
    // A last line cut short (a crash, a full disk) or without its line end (an
    // editor) must not swallow the first new record.
    char last = '\n';
    OVERLAPPED end = {};
    end.Offset = static_cast<DWORD>(m_before.QuadPart - 1);
    end.OffsetHigh = static_cast<DWORD>((m_before.QuadPart - 1) >> 32);
    DWORD read = 0;
    if (ok && m_before.QuadPart > 0 && !(ReadFile(m_file, &last, 1, &read, &end) && read == 1)) last = '\0';
    auto write = [&](const char* text, size_t size) {
        for (size_t done = 0; ok && done < size;) {
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30)), written = 0;
            if (!WriteFile(m_file, text + done, chunk, &written, nullptr)) m_error = GetLastError();
            else if (written == 0) m_error = ERROR_DISK_FULL;  // a success that writes nothing: no room is left
            ok = m_error == ERROR_SUCCESS;
            done += written;
        }
    };
    if (last != '\n') write("\r\n", 2);
    write(bytes.data(), bytes.size());
    if (!ok) Undo();
    if (locked) UnlockFileEx(m_file, 0, 1, 0, &turn);
    return ok;
}

bool AppendFile::Flush()
{
    if (FlushFileBuffers(m_file)) return true;
    m_error = GetLastError();
    return false;
}

void AppendFile::Undo()
{
    // This handle only appends: the length is set through a handle of its own.
    Handle file(CreateFileW(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.IsOpen() && SetFilePointerEx(file.Get(), m_before, nullptr, FILE_BEGIN)) SetEndOfFile(file.Get());
}
