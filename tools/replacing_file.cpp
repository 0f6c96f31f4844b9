#include "tools/replacing_file.h"

#include <errno.h>

#include "platform/host_services.h"
#include "platform/system_services.h"

enum { NAME_LIMIT = 4096 };

bool begin_replacing(ReplacingFile* out, const char* path) {
    char temporary[NAME_LIMIT];
    out->path = path;
    out->file = platform_create_temporary(path, temporary, sizeof temporary);
    if (out->file == nullptr) return false;
    out->temporary = temporary;
    return true;
}

bool finish_replacing(ReplacingFile* out) {
    bool closed = fclose(out->file) == 0;
    out->file = nullptr;
    if (closed && platform_replace_file(out->temporary.c_str(), out->path.c_str())) return true;
    int error = errno;
    platform_delete_file(out->temporary.c_str());
    errno = error;
    return false;
}

void abandon_replacing(ReplacingFile* out) {
    if (out->file != nullptr) fclose(out->file);
    out->file = nullptr;
    platform_delete_file(out->temporary.c_str());
}
