// The files krvn appends records to (the audit log, the backups): named by
// the user, with environment references and relative paths resolved and the
// folders on the way made; each record appended whole, in turn with any other
// run appending to the same file.
#pragma once
#include <windows.h>

#include <string>

// |path| with its environment references (%TEMP%, %LOCALAPPDATA%, …) expanded, made absolute.
std::wstring ExpandPath(const std::wstring& path);

class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens |path| (as ExpandPath gives it) for appending, making its folders;
    // false with |error| naming the file, |what| it is ("the log file").
    bool Open(const std::wstring& path, const std::wstring& what, std::wstring& error);
    bool IsOpen() const { return m_file != INVALID_HANDLE_VALUE; }
    bool Created() const { return m_created; }  // by Open: there was no such file
    const std::wstring& Path() const { return m_path; }
    // Appends |bytes| in one write, never interleaved with another run's:
    // runs take turns by an exclusive lock on the byte at offset 2^63 - 2. False
    // when they could not be written whole.
    bool Append(const std::string& bytes);
    // Makes what was appended durable (FlushFileBuffers).
    bool Flush();
    void Close();

private:
    HANDLE m_file = INVALID_HANDLE_VALUE;
    std::wstring m_path;
    bool m_created = false;
};
