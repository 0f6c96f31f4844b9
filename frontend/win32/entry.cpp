// The process entry of the stub.  No runtime start-up code is linked: the runtime
// (msvcrt.dll) initialises itself when it is loaded, and the command line and show
// command are not used.  Before anything else loads a library, the DLL search is
// restricted to System32 where the system offers it; only libraries of the
// KnownDLLs list are imported, and the common controls are loaded afterwards by
// their full path.
#include <windows.h>
#include <commctrl.h>
#include <string.h>

#include "engine/extraction_loop.h"
#include "frontend/win32/front_end.h"

/* SetDefaultDllDirectories exists from Windows 8 on (and on 7 with KB2533623):
 * looked up at run time so that older systems still start.  Without it the current
 * folder is at least taken out of the search; the program's own folder (a Downloads
 * folder, full of whatever came with it) stays in, which is why comctl32 is loaded
 * by its full path. */
static void restrict_dll_search() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    // Loaded with every process and a KnownDLL: the loader hands back the module it
    // has, searching nothing.
    HMODULE kernel = LoadLibraryW(L"kernel32.dll");
    SetDefaultDllDirectoriesFn set_directories =
        (SetDefaultDllDirectoriesFn)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories");
#ifdef MAVUSFX_AS_WITHOUT_DEFAULT_DLL_DIRECTORIES
    set_directories = nullptr;  // a test build: as on such a system
#endif
    if (set_directories != nullptr) set_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    else SetDllDirectoryW(L"");
}

/* comctl32 is not a KnownDLL: it is loaded from System32 by its full path, never
 * found by a search; its initialisation registers "msctls_progress32" for the
 * progress bar. */
static void load_common_controls() {
    typedef BOOL(WINAPI * InitExFn)(const INITCOMMONCONTROLSEX*);
    WCHAR path[MAX_PATH + 16];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    static const WCHAR NAME[] = L"\\comctl32.dll";
    memcpy(path + length, NAME, sizeof NAME);
    HMODULE controls = LoadLibraryW(path);
    if (controls == nullptr) return;
    // Every comctl32 from 4.70 on has it, so every system from Vista on.
    InitExFn init_ex = (InitExFn)(void*)GetProcAddress(controls, "InitCommonControlsEx");
    if (init_ex != nullptr) {
        INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
        init_ex(&classes);
    }
}

SfxApp sfx_app;

/* The record is released with the process, which ends as soon as this returns:
 * the own file is only read, and the system closes it and frees the texts. */
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    sfx_app.instance = instance;
    return start_up(&sfx_app) ? run_message_loop() : 0;
}

// The image's own headers, where the linker places the module: its instance handle.
extern "C" IMAGE_DOS_HEADER __ImageBase;

extern "C" void stub_entry() {
    restrict_dll_search();
    load_common_controls();
    ExitProcess((UINT)WinMain((HINSTANCE)&__ImageBase, nullptr, nullptr, SW_SHOWNORMAL));
}
