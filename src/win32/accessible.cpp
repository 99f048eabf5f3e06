#include "win32/accessible.h"

#include <objbase.h>
#include <oleacc.h>

namespace doredaviro::win32 {

namespace {

// Not in every import library: the annotation service and the name property, by their numbers.
constexpr CLSID kAccPropServices = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr IID kIAccPropServices = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr GUID kNameProperty = {
    0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};

}  // namespace

void NameForAssistiveTechnology(HWND control, const std::wstring& name) {
    if (!control) return;
    SetWindowTextW(control, name.c_str());
    IAccPropServices* services = nullptr;
    if (FAILED(CoCreateInstance(kAccPropServices, nullptr, CLSCTX_INPROC_SERVER, kIAccPropServices,
                                reinterpret_cast<void**>(&services)))) {
        return;
    }
    // The annotation goes with the window; ours lives as long as the program.
    services->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kNameProperty,
                             name.c_str());
    services->Release();
}

}  // namespace doredaviro::win32
