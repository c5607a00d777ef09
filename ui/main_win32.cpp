// velkstub: the self-applying patch program. Its payload follows the executable image.
#include <windows.h>
#include <commctrl.h>

#include "ui/patch_dialog_win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    // The manifest asks for the version 6 controls; registering their classes up front also
    // serves systems that would not load them on demand.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    CVELKPatchDialog dialog(instance);
    return static_cast<int>(dialog.Run());
}
