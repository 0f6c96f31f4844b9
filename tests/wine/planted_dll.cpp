// A DLL planted beside an installer under a system library's name (comctl32.dll)
// in the end-to-end tests: when anything loads it, it leaves the file planted.txt
// beside itself and refuses to load.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    while (length > 0 && path[length - 1] != L'\\') length--;
    lstrcpyW(path + length, L"planted.txt");
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return FALSE;
}
