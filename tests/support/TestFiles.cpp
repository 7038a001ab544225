#include "TestFiles.h"

#include <windows.h>
#include <share.h>
#include <stdio.h>

std::string TempPath(const std::string& stem)
{
    static int counter = 0;
    char folder[MAX_PATH];
    GetTempPathA(sizeof(folder), folder);
    char name[MAX_PATH + 64];
    // Wine reuses process ids from run to run: a leftover of an earlier run is removed.
    snprintf(name, sizeof(name), "%skrvn-%lu-%d-%s", folder, GetCurrentProcessId(), ++counter, stem.c_str());
    DeleteFileA(name);
    return name;
}

std::string UniqueName(const std::string& stem)
{
    static int counter = 0;
    return stem + std::to_string(++counter);
}

bool WriteTextFile(const std::string& path, const std::string& text)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

std::string ReadTextFile(const std::string& path)
{
    FILE* f = _fsopen(path.c_str(), "rb", _SH_DENYNO);
    if (!f) return std::string();
    std::string text;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) text.append(buffer, n);
    fclose(f);
    return text;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

int CountOf(const std::string& text, const std::string& part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

int HoldFileForSeconds(const char* path, int seconds)
{
    FILE* f = _fsopen(path, "wt", _SH_DENYWR);
    if (!f) return 1;
    fprintf(f, "held\n");
    fflush(f);
    Sleep(seconds * 1000);
    fclose(f);
    return 0;
}

std::string ThisProgram()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof(path));
    return path;
}

std::string ProgramFolder()
{
    std::string exe = ThisProgram();
    return exe.substr(0, exe.find_last_of('\\') + 1);
}

int RunProcess(const std::string& commandLine, unsigned timeoutMs, void** processOut)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return -1;
    CloseHandle(info.hThread);
    if (processOut) {
        *processOut = info.hProcess;
        return 0;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(info.hProcess, &code);
    else TerminateProcess(info.hProcess, 99);
    CloseHandle(info.hProcess);
    return static_cast<int>(code);
}
