// krvn: Korvane's search-folder scan and deletion from the command line, for
// scripts and management systems. It runs in the user's context (MAPI
// profiles are per user) and never shows any window.
#include <windows.h>
#include <mapix.h>
#include <objbase.h>
#include <shellapi.h>

#include "Commands.h"
#include "Console.h"
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
    if (!ParseCommandLine(Arguments(), options, error)) {
        WriteErr(L"krvn: " + error + L"\r\nTry 'krvn --help'.\r\n");
        return kExitUsage;
    }
    if (options.command == Command::Version) {
        WriteOut(L"krvn 1.0.0.1\r\n");
        return kExitOk;
    }
    if (options.command == Command::Help || options.help) {
        WriteOut(HelpText(options.help ? options.command : Command::Help));
        return kExitOk;
    }

    TraceInit("SV", "krvn.ini");
    bool comInitialized = SUCCEEDED(CoInitialize(nullptr));
    HRESULT hr = MAPIInitialize(nullptr);
    int code;
    if (FAILED(hr)) {
        WriteErr(L"krvn: MAPI could not be initialised (hr=" + HresultText(hr) +
                 L"); is a mail client of this program's bitness installed?\r\n");
        code = kExitUnreachable;
    } else {
        code = RunCommand(options);
        MAPIUninitialize();
    }
    if (comInitialized) CoUninitialize();
    return code;
}
