#include "platform/win32/win32_platform.h"
#include "window/frmDoredAviro.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // ShellExecute may hand the launch to a shell extension, which needs COM.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    int exitCode = 1;
    {
        doredaviro::win32::Win32Platform platform(instance);
        doredaviro::frmDoredAviro form(platform);
        if (platform.CreateMainWindow(form) && form.Form_Load()) {
            platform.ShowCentered(showCommand);
            exitCode = platform.Run();
        }
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return exitCode;
}
