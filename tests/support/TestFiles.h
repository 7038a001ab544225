// Files for tests: unique temporary paths, reading and writing whole files.
#pragma once
#include <string>
#include <vector>

// A fresh path in the temporary folder, unique to this process and call.
std::string TempPath(const std::string& stem);
// |stem| with a number of its own: mapisim counts @N faults per object for the
// whole process, so a scenario that counts on @N names its objects afresh.
std::string UniqueName(const std::string& stem);
bool WriteTextFile(const std::string& path, const std::string& text);
std::string ReadTextFile(const std::string& path);  // "" when unreadable
bool FileExists(const std::string& path);
std::vector<std::string> SplitLines(const std::string& text);  // drops "\r"
bool Contains(const std::string& text, const std::string& part);
int CountOf(const std::string& text, const std::string& part);

// Opens |path| as the trace log does (others may read, not write) and keeps
// it open for |seconds|; returns 0 once it held the file, 1 otherwise.
int HoldFileForSeconds(const char* path, int seconds);

// Runs a program and returns its exit code (or -1); waits at most |timeoutMs|.
int RunProcess(const std::string& commandLine, unsigned timeoutMs, void** processOut = nullptr);
std::string ThisProgram();
// The folder of this program, with its final backslash: the other programs are built there.
std::string ProgramFolder();
