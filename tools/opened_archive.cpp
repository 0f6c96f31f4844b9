#include <errno.h>
#include <string.h>

#include "frontend/pe_image.h"
#include "platform/host_services.h"
#include "tools/local_names.h"
#include "tools/tool.h"

enum { HEAD_BYTES = 4096, ARCHIVE_BUFFER_SIZE = 32 * 1024 };

/* The archive is read through a buffer of 32 KiB: the walk over the headers and the
 * loop step from member to member inside it, where the runtime's own 4 KiB buffer
 * was read anew for nearly every member of an archive of small files.  The tool
 * opens one archive a run, so the buffer is its own. */
static char archive_buffer[ARCHIVE_BUFFER_SIZE];

bool open_archive(const char* path, OpenedArchive* archive) {
    memset(archive, 0, sizeof *archive);
    PathInfo info = {};
    if (platform_path_info(path, &info) && info.is_folder) {
        fprintf(stderr, "mavusfx: %s: is a folder\n", shown_local(path).c_str());
        return false;
    }
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        fprintf(stderr, "mavusfx: %s: %s\n", shown_local(path).c_str(), strerror(errno));
        return false;
    }
    setvbuf(file, archive_buffer, _IOFBF, sizeof archive_buffer);
    uint8_t head[HEAD_BYTES];
    size_t got = fread(head, 1, sizeof head, file);
    uint32_t image_end = pe_image_end(head, (uint32_t)got);
    archive->file = file;
    if (image_end == 0) {
        fseek(file, 0, SEEK_SET);
        return true;
    }
    // A combined file: the configuration block follows the stub's image.
    if (fseek(file, (long)image_end, SEEK_SET) != 0 || !read_config_block(file, &archive->config)) {
        fprintf(stderr, "mavusfx: %s: the configuration block after the stub is cut short\n",
                shown_local(path).c_str());
        fclose(file);
        archive->file = nullptr;
        return false;
    }
    archive->combined = true;
    archive->block_offset = image_end;
    archive->archive_offset = (uint32_t)ftell(file);
    return true;
}
