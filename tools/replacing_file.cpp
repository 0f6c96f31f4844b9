#include "tools/replacing_file.h"

#include <errno.h>
#include <string.h>

#include "platform/host_services.h"
#include "platform/system_services.h"
#include "tools/local_names.h"

enum { NAME_LIMIT = 4096, COPY_CHUNK = 1 << 16 };

bool is_standard_output(const char* path) { return strcmp(path, "-") == 0; }

void tell_output_problem(const ReplacingFile& out, const std::string& why) {
    fflush(stdout);
    fprintf(stderr, "mavusfx: %s: %s\n", out.shown.c_str(), why.c_str());
}

namespace {

/* Makes the folders on the way to `path` that are missing, the outermost first. */
bool make_folders_to(const std::string& path, std::string* problem) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return true;
    std::string folder = path.substr(0, slash);
    FolderState state = platform_path_state(folder.c_str());
    if (state == PATH_IS_FOLDER) return true;
    if (state == PATH_IS_OTHER) {
        *problem = shown_local(folder.c_str()) + " is not a folder";
        return false;
    }
    if (!make_folders_to(folder, problem)) return false;
    if (platform_create_folder(folder.c_str()) || platform_path_state(folder.c_str()) == PATH_IS_FOLDER)
        return true;
    *problem = "its folder " + shown_local(folder.c_str()) + " cannot be made: " + strerror(errno);
    return false;
}

bool open_stream(ReplacingFile* out, FILE* stream, std::string* problem) {
    platform_make_binary(stream);
    out->stream = stream;
    out->file = platform_create_scratch_file();
    if (out->file != nullptr) return true;
    *problem = std::string("no scratch file for the output: ") + strerror(errno);
    if (stream != stdout) fclose(stream);
    out->stream = nullptr;
    return false;
}

}  // namespace

bool begin_replacing(ReplacingFile* out, const char* path, std::string* problem) {
    out->file = nullptr;
    out->stream = nullptr;
    out->path = path;
    out->target = path;
    out->temporary.clear();
    if (is_standard_output(path)) {
        out->shown = "standard output";
        if (platform_output_is_terminal()) {
            *problem = "a terminal, which takes no archive: redirect it to a file or a pipe";
            return false;
        }
        return open_stream(out, stdout, problem);
    }
    out->shown = shown_local(path);
    PathInfo info = {};
    bool exists = platform_path_info(path, &info);
    if (exists && info.is_folder) {
        *problem = "is a folder";
        return false;
    }
    if (exists && !info.is_file) {
        // Through a link too: /dev/stdout leads to a pipe that has no path.
        FILE* stream = fopen(path, "wb");
        if (stream == nullptr) {
            *problem = strerror(errno);
            return false;
        }
        return open_stream(out, stream, problem);
    }
    if (info.is_link) {
        char real[NAME_LIMIT];
        if (!exists || !platform_real_path(path, real, sizeof real)) {
            *problem = "a symbolic link that leads nowhere: not followed";
            return false;
        }
        out->target = real;
    }
    if (!exists && !make_folders_to(out->target, problem)) return false;
    char temporary[NAME_LIMIT];
    out->file = platform_create_temporary(out->target.c_str(), temporary, sizeof temporary);
    if (out->file == nullptr) {
        *problem = strerror(errno);
        return false;
    }
    out->temporary = temporary;
    return true;
}

/* The scratch file's bytes, from its start, to the stream. */
static bool send_on(ReplacingFile* out) {
    static char chunk[COPY_CHUNK];
    if (fflush(out->file) != 0 || fseek(out->file, 0, SEEK_SET) != 0) return false;
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, out->file)) > 0)
        if (fwrite(chunk, 1, got, out->stream) != got) return false;
    if (ferror(out->file)) {
        if (errno == 0) errno = EIO;
        return false;
    }
    return fflush(out->stream) == 0;
}

bool finish_replacing(ReplacingFile* out) {
    if (out->stream != nullptr) {
        errno = 0;
        bool sent = send_on(out);
        int error = errno;
        fclose(out->file);
        out->file = nullptr;
        if (out->stream != stdout && fclose(out->stream) != 0 && sent) {
            sent = false;
            error = errno;
        }
        out->stream = nullptr;
        errno = error != 0 ? error : EIO;
        return sent;
    }
    bool closed = fclose(out->file) == 0;
    out->file = nullptr;
    if (closed && platform_replace_file(out->temporary.c_str(), out->target.c_str())) return true;
    int error = errno;
    platform_delete_file(out->temporary.c_str());
    errno = error;
    return false;
}

void abandon_replacing(ReplacingFile* out) {
    if (out->file != nullptr) fclose(out->file);
    out->file = nullptr;
    if (out->stream != nullptr && out->stream != stdout) fclose(out->stream);
    out->stream = nullptr;
    if (!out->temporary.empty()) platform_delete_file(out->temporary.c_str());
}
