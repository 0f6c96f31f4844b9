// Where the reports and the shell notices go outside the stub's window (the host
// tool prints them, tests record them), and the host tool's mapping of the engine's
// paths to file-system names on POSIX.
#pragma once

#include <stdint.h>

#include "platform/reports.h"
#include "platform/system_services.h"

// Any entry may be null.
struct PlatformHooks {
    void (*member)(void* context, const char* name);
    void (*progress)(void* context, uint32_t percent);
    void (*failure)(void* context, const char* name, FailureKind kind);
    void (*unknown_header)(void* context);
    void (*end)(void* context, bool cancelled);
    void (*shell_notice)(void* context, ShellEvent event, const char* path);
    void* context;
    void (*older_reading)(void* context, const char* name);
    // The name in the file system for a path the engine writes (POSIX only): the
    // result into `out` (`size` bytes); false when there is none.  Null: the bytes
    // as they are.
    bool (*file_name)(void* context, const char* path, char* out, unsigned size);
};

// Installs the hooks (null: reports go nowhere).  Not used by the stub.
void platform_set_hooks(const PlatformHooks* hooks);
// Passes a shell notice to the hooks: how the POSIX side announces.
void notify_hooked_shell(ShellEvent event, const char* path);
// The file-system name of `path` by the hooks (`path` itself without a hook), in
// `buffer` (`size` bytes) when it differs; null when the hook finds none.
const char* hooked_file_name(const char* path, char* buffer, unsigned size);
