#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "win32/win32_form.h"
#include "win32/win32_system.h"

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
        if (form.Load()) exitCode = form.Run(showCommand);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return exitCode;
}
