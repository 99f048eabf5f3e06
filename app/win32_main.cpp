#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "win32/system.h"
#include "win32/text.h"
#include "win32/win32_form.h"
#include "win32/win32_system.h"

namespace {

// The paths the program was started with, each as Windows split the command line: in UTF-16, so
// a name the ANSI code page cannot spell arrives whole.
std::vector<std::string> CommandLinePaths() {
    std::vector<std::string> paths;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments) return paths;
    for (int i = 1; i < count; ++i) paths.push_back(doredaviro::win32::Narrow(arguments[i]));
    LocalFree(arguments);
    return paths;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // ShellExecute may hand the launch to a shell extension, which needs COM.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    int exitCode = 1;
    {
        // The services outlive the form, whose window outlives nothing of theirs.
        doredaviro::win32::Win32System system;
        doredaviro::win32::Win32Form form(instance, system);
        form.form().SetCommandLine(CommandLinePaths(), doredaviro::win32::CurrentDirectory());
        if (form.Load()) exitCode = form.Run(showCommand);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return exitCode;
}
