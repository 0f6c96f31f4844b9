/* The floor of writing many files under Wine: a plain Win32 program that does, for
 * each file of a list, what the installer does with a member's bytes once it has
 * them, and nothing else: the folder made the first time it is needed, a new
 * temporary file beside the name (CREATE_NEW), the bytes written in one call, the
 * file closed, its time stamped (opened again for its attributes, SetFileTime,
 * closed), and the temporary moved over the name (MoveFileExW, replacing).
 *
 *   floor_writer.exe LIST [--notify] [--check-links]
 *
 * LIST has one line a file, "PATH<TAB>SIZE<TAB>UNIX-TIME", PATH relative to the
 * current folder with '\' between its parts (bench/many_files.py writes it).  The
 * bytes are a fixed pattern.  --notify adds one SHChangeNotify(SHCNE_CREATE) a file,
 * --check-links one GetFileAttributesW a part of each path, as the installer did
 * before it kept what it knew of the folder.  Prints "files N ms T": the count and
 * the time from the first file to the last, by QueryPerformanceCounter.
 *
 * Built by bench/stub_bench.sh with i686-w64-mingw32-gcc -O2 -municode. */
#include <windows.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#define CHUNK 65536

static char pattern[CHUNK];

static void fail(const wchar_t* what, const wchar_t* path) {
    fwprintf(stderr, L"floor_writer: %ls %ls failed (%lu)\n", what, path, GetLastError());
    exit(1);
}

/* Makes every folder on the way to the file the first time it is met. */
static void make_folders(wchar_t* path, wchar_t* last_folder) {
    wchar_t* cut = wcsrchr(path, L'\\');
    if (cut == NULL) return;
    *cut = 0;
    if (wcscmp(path, last_folder) != 0) {
        for (wchar_t* p = path;; p++) {
            if (*p != L'\\' && *p != 0) continue;
            wchar_t c = *p;
            *p = 0;
            if (!CreateDirectoryW(path, NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
                fail(L"CreateDirectoryW", path);
            *p = c;
            if (c == 0) break;
        }
        wcscpy(last_folder, path);
    }
    *cut = L'\\';
}

static void check_links(wchar_t* path) {
    for (wchar_t* p = path;; p++) {
        if (*p != L'\\' && *p != 0) continue;
        wchar_t c = *p;
        *p = 0;
        DWORD attributes = GetFileAttributesW(path);
        *p = c;
        if (attributes == INVALID_FILE_ATTRIBUTES || c == 0) break;
    }
}

static void write_file(const wchar_t* path, unsigned long size, unsigned long unix_time) {
    wchar_t temporary[MAX_PATH + 8];
    swprintf(temporary, MAX_PATH + 8, L"%ls.~0", path);
    HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) fail(L"CreateFileW", temporary);
    while (size > 0) {
        DWORD part = size < CHUNK ? size : CHUNK, written;
        if (!WriteFile(file, pattern, part, &written, NULL) || written != part) fail(L"WriteFile", temporary);
        size -= part;
    }
    CloseHandle(file);

    ULONGLONG ticks = ((ULONGLONG)unix_time + 11644473600ULL) * 10000000ULL;
    FILETIME time = {(DWORD)ticks, (DWORD)(ticks >> 32)};
    file = CreateFileW(temporary, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (file == INVALID_HANDLE_VALUE) fail(L"CreateFileW (time)", temporary);
    SetFileTime(file, NULL, &time, &time);
    CloseHandle(file);

    if (!MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING)) fail(L"MoveFileExW", temporary);
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fputws(L"usage: floor_writer.exe LIST [--notify] [--check-links]\n", stderr);
        return 2;
    }
    int notify = 0, links = 0;
    for (int i = 2; i < argc; i++) {
        if (wcscmp(argv[i], L"--notify") == 0) notify = 1;
        else if (wcscmp(argv[i], L"--check-links") == 0) links = 1;
    }
    for (int i = 0; i < CHUNK; i++) pattern[i] = (char)(' ' + (i * 7 + i / 13) % 95);

    FILE* list = _wfopen(argv[1], L"rb");
    if (list == NULL) fail(L"opening", argv[1]);
    wchar_t folder[MAX_PATH] = L"", full[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, full);
    size_t base = wcslen(full);
    char line[1024];
    unsigned count = 0;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    while (fgets(line, sizeof line, list) != NULL) {
        char* tab = strchr(line, '\t');
        if (tab == NULL) continue;
        *tab = 0;
        unsigned long size = strtoul(tab + 1, &tab, 10);
        unsigned long unix_time = strtoul(tab, NULL, 10);
        wchar_t path[MAX_PATH];
        if (MultiByteToWideChar(CP_UTF8, 0, line, -1, path, MAX_PATH) == 0) fail(L"converting", L"a name");
        if (links) check_links(path);
        make_folders(path, folder);
        write_file(path, size, unix_time);
        if (notify) {
            full[base] = L'\\';
            wcscpy(full + base + 1, path);
            SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, full, NULL);
            full[base] = 0;
        }
        count++;
    }
    QueryPerformanceCounter(&end);
    fclose(list);
    printf("files %u ms %.1f\n", count, (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart);
    return 0;
}
