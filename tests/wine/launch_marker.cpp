// Started by the stub after a clean run in the end-to-end tests: leaves the file
// launched.txt in its current folder, holding that folder's path.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    HANDLE file = CreateFileA("launched.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written;
    WriteFile(file, folder, length, &written, nullptr);
    CloseHandle(file);
    return 0;
}
