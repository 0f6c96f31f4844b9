// The process entry of the stub.  No runtime start-up code is linked: the runtime
// (msvcrt.dll) initialises itself when it is loaded, and the command line and show
// command are not used.  Before anything else loads a library, the DLL search is
// restricted to System32 where the system offers it; only libraries of the
// KnownDLLs list are imported, and the common controls are loaded afterwards.
#include <windows.h>
#include <commctrl.h>

#include "engine/extraction_loop.h"
#include "frontend/win32/front_end.h"

/* SetDefaultDllDirectories exists from Windows 8 on (and on 7 with KB2533623):
 * looked up at run time so that older systems still start. */
static void restrict_dll_search() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return;
    SetDefaultDllDirectoriesFn set_directories =
        (SetDefaultDllDirectoriesFn)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (set_directories != nullptr) set_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

/* comctl32 is not a KnownDLL, so it is loaded by name after the restriction; its
 * initialisation registers "msctls_progress32" for the progress bar. */
static void load_common_controls() {
    typedef BOOL(WINAPI * InitExFn)(const INITCOMMONCONTROLSEX*);
    typedef void(WINAPI * InitFn)();
    HMODULE controls = LoadLibraryA("comctl32.dll");
    if (controls == nullptr) return;
    InitExFn init_ex = (InitExFn)(void*)GetProcAddress(controls, "InitCommonControlsEx");
    if (init_ex != nullptr) {
        INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
        init_ex(&classes);
        return;
    }
    InitFn init = (InitFn)(void*)GetProcAddress(controls, "InitCommonControls");
    if (init != nullptr) init();
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    SfxApp app;
    init_app(&app, instance);
    int result = start_up(&app) ? run_message_loop() : 0;
    release_app(&app);
    return result;
}

extern "C" void stub_entry() {
    keep_going = 1;
    restrict_dll_search();
    load_common_controls();
    ExitProcess((UINT)WinMain(GetModuleHandleA(nullptr), nullptr, nullptr, SW_SHOWNORMAL));
}
