// The stub calls the C runtime of msvcrt.dll through its import address table, as
// it calls the system: without this the linker puts a jump of 8 bytes in front of
// each function, for one byte saved at each call.  Force-included into the stub's
// units (cmake/stub.cmake); the declarations are the runtime headers' own.
#pragma once

#include <stddef.h>
#include <stdio.h>

extern "C" {
__declspec(dllimport) size_t __cdecl fread(void*, size_t, size_t, FILE*);
__declspec(dllimport) size_t __cdecl fwrite(const void*, size_t, size_t, FILE*);
__declspec(dllimport) int __cdecl fseek(FILE*, long, int);
__declspec(dllimport) long __cdecl ftell(FILE*);
__declspec(dllimport) int __cdecl fgetc(FILE*);
__declspec(dllimport) int __cdecl fclose(FILE*);
__declspec(dllimport) int __cdecl fflush(FILE*);
__declspec(dllimport) void* __cdecl malloc(size_t);
__declspec(dllimport) void __cdecl free(void*);
__declspec(dllimport) size_t __cdecl strlen(const char*);
}
