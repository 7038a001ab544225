// krvn: Korvane's search-folder scan and deletion from the command line, for
// scripts and management systems. It runs in the user's context (MAPI
// profiles are per user) and never shows any window.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "Commands.h"
#include "Console.h"
#include "korvane_version.h"
#include "trace.h"

namespace {

std::vector<std::wstring> Arguments()
{
    std::vector<std::wstring> args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; argv && i < count; ++i) args.push_back(argv[i]);
    LocalFree(argv);
    return args;
}

} // namespace

int main()
{
    Options options;
    std::wstring error;
    std::vector<std::wstring> arguments = Arguments();
    if (!ParseCommandLine(arguments, options, error)) {
        Message(error);
        WriteErr(L"Try 'krvn --help'.\r\n");
        return kExitUsage;
    }
    if (options.command == Command::Version) {
        WriteOut(L"krvn " KORVANE_VERSION_WTEXT L"\r\n");
        return kExitOk;
    }
    if (options.command == Command::Help || options.help) {
        WriteOut(HelpText(options.help ? options.command : Command::Help));
        return kExitOk;
    }

    TraceInit("SV", "krvn.ini");
    bool comInitialized = SUCCEEDED(CoInitialize(nullptr));
    int code = RunCommand(options, arguments);
    if (comInitialized) CoUninitialize();
    return code;
}
