#include "tools/execution_level.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "engine/shift_jis.h"
#include "platform/system_services.h"

/* In the manifest the level attribute is followed by blanks up to the width of the
 * longest level and its closing quote, then the element's end:
 *   <requestedExecutionLevel level="asInvoker"           />
 * Blanks inside a tag are plain XML; the marker occurs once in the image. */
static const char MARKER[] = "<requestedExecutionLevel level=\"";
enum { MARKER_LENGTH = sizeof MARKER - 1, FIELD_WIDTH = 21 };  // "requireAdministrator" + '"'

static const char* const NAMES[] = {"asInvoker", "highestAvailable", "requireAdministrator"};
static const char* const WORDS[] = {"invoker", "highest", "admin"};

const char* execution_level_name(ExecutionLevel level) {
    return level == LEVEL_NONE ? "none" : NAMES[level];
}

bool parse_execution_level(const char* word, ExecutionLevel* level) {
    for (int i = 0; i < 3; i++)
        if (strcmp(word, WORDS[i]) == 0) {
            *level = (ExecutionLevel)i;
            return true;
        }
    return false;
}

static bool starts_with_folded(const char* text, const char* prefix) {
    for (; *prefix != 0; text++, prefix++)
        if (fold_case((unsigned char)*text) != fold_case((unsigned char)*prefix)) return false;
    return true;
}

ExecutionLevel level_for_destination(bool under_program_files, const char* dest) {
    if (dest == nullptr || dest[0] == 0) return LEVEL_AS_INVOKER;  // the current folder
    bool has_drive = dest[1] == ':';
    if (!has_drive) return under_program_files ? LEVEL_REQUIRE_ADMINISTRATOR : LEVEL_AS_INVOKER;
    const char* rest = dest + 2;
    if (*rest != '\\' && *rest != '/') return LEVEL_AS_INVOKER;
    rest++;
    if (!starts_with_folded(rest, "Program Files")) return LEVEL_AS_INVOKER;
    rest += 13;
    bool folder_ends = *rest == 0 || *rest == '\\' || *rest == '/' || starts_with_folded(rest, " (x86)");
    return folder_ends ? LEVEL_REQUIRE_ADMINISTRATOR : LEVEL_AS_INVOKER;
}

// The field's first byte, or null when the image holds no well-formed field.
static const uint8_t* find_field(const uint8_t* image, uint32_t size) {
    const uint8_t* end = image + size;
    const uint8_t* at = std::search(image, end, MARKER, MARKER + MARKER_LENGTH);
    if (at == end || end - at < MARKER_LENGTH + FIELD_WIDTH + 2) return nullptr;
    const uint8_t* field = at + MARKER_LENGTH;
    if (field[FIELD_WIDTH] != '/' || field[FIELD_WIDTH + 1] != '>') return nullptr;
    return field;
}

ExecutionLevel read_execution_level(const uint8_t* image, uint32_t size) {
    const uint8_t* field = find_field(image, size);
    if (field == nullptr) return LEVEL_NONE;
    for (int i = 0; i < 3; i++) {
        size_t length = strlen(NAMES[i]);
        if (memcmp(field, NAMES[i], length) != 0 || field[length] != '"') continue;
        bool padded = true;
        for (size_t k = length + 1; k < FIELD_WIDTH; k++) padded = padded && field[k] == ' ';
        if (padded) return (ExecutionLevel)i;
    }
    return LEVEL_NONE;
}

bool write_execution_level(uint8_t* image, uint32_t size, ExecutionLevel level) {
    uint8_t* field = (uint8_t*)find_field(image, size);
    if (field == nullptr || level == LEVEL_NONE) return false;
    size_t length = strlen(NAMES[level]);
    memset(field, ' ', FIELD_WIDTH);
    memcpy(field, NAMES[level], length);
    field[length] = '"';
    return true;
}

ExecutionLevel read_file_execution_level(FILE* file, uint32_t stub_size) {
    FileOffset here = platform_tell(file);
    std::vector<uint8_t> stub(stub_size);
    bool read = fseek(file, 0, SEEK_SET) == 0 && fread(stub.data(), 1, stub_size, file) == stub_size;
    platform_seek(file, here, SEEK_SET);
    return read ? read_execution_level(stub.data(), stub_size) : LEVEL_NONE;
}
