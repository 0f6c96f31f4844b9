#include "tools/installer_identity.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <set>

#include "decode/little_endian.h"
#include "resources/resource_ids.h"
#include "tools/pe_resources.h"

namespace {

typedef std::vector<uint8_t> Bytes;

enum {
    TEXT_LIMIT = 255,               // UTF-16 units of a property's text
    MOST_IMAGES = 64,               // of an icon file
    LARGEST_ICON = 16 * 1024 * 1024,
    JAPANESE = 1041,
    FIXED_SIZE = 52,                // VS_FIXEDFILEINFO
    FIXED_SIGNATURE = 0xFEEF04BD
};

uint32_t big32_at(const uint8_t* p) { return (uint32_t)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
void put16(Bytes* b, size_t at, uint32_t v) {
    (*b)[at] = (uint8_t)v;
    (*b)[at + 1] = (uint8_t)(v >> 8);
}
void put32(Bytes* b, size_t at, uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

std::string format(const char* pattern, unsigned a, unsigned b = 0, unsigned c = 0, unsigned d = 0,
                   unsigned e = 0) {
    char text[200];
    snprintf(text, sizeof text, pattern, a, b, c, d, e);
    return text;
}

// ---- text ----------------------------------------------------------------------

/* UTF-8 to UTF-16; false for bytes that are no UTF-8 (overlong forms, surrogates
 * and code points past U+10FFFF included). */
bool utf8_to_utf16(const std::string& in, std::u16string* out) {
    static const uint32_t LEAST[] = {0, 0, 0x80, 0x800, 0x10000};
    out->clear();
    for (size_t i = 0; i < in.size();) {
        unsigned char c = (unsigned char)in[i];
        size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        if (n == 0 || in.size() - i < n) return false;
        uint32_t code = n == 1 ? c : c & (0x7F >> n);
        for (size_t k = 1; k < n; k++) {
            unsigned char t = (unsigned char)in[i + k];
            if ((t & 0xC0) != 0x80) return false;
            code = code << 6 | (t & 0x3F);
        }
        if (code < LEAST[n] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return false;
        if (code >= 0x10000) {
            *out += (char16_t)(0xD800 + ((code - 0x10000) >> 10));
            *out += (char16_t)(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            *out += (char16_t)code;
        }
        i += n;
    }
    return true;
}

/* UTF-16 to UTF-8; a surrogate without its pair becomes U+FFFD. */
std::string utf16_to_utf8(const std::u16string& in) {
    std::string out;
    for (size_t i = 0; i < in.size(); i++) {
        uint32_t c = in[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (in[++i] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        if (c < 0x80) {
            out += (char)c;
        } else if (c < 0x800) {
            out += (char)(0xC0 | c >> 6);
            out += (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += (char)(0xE0 | c >> 12);
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        } else {
            out += (char)(0xF0 | c >> 18);
            out += (char)(0x80 | ((c >> 12) & 0x3F));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    return out;
}

/* A property's text: UTF-8 of at most 255 UTF-16 units, no control characters
 * (Explorer shows the text on one line). */
bool property_text(const char* label, const std::string& utf8, std::u16string* out, std::string* problem) {
    if (!utf8_to_utf16(utf8, out)) return (*problem = std::string(label) + " is not UTF-8"), false;
    if (out->size() > TEXT_LIMIT)
        return (*problem = std::string(label) + " is longer than 255 characters"), false;
    for (char16_t c : *out)
        if (c < 0x20 || c == 0x7F)
            return (*problem = std::string(label) + " holds a control character"), false;
    return true;
}

/* One to four numbers of 0 to 65535 between dots, nothing else. */
bool parse_version(const std::string& text, uint16_t parts[4]) {
    memset(parts, 0, 4 * sizeof parts[0]);
    size_t count = 0, at = 0;
    for (;;) {
        if (count == 4 || at >= text.size() || text[at] < '0' || text[at] > '9') return false;
        uint32_t value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            value = value * 10 + (uint32_t)(text[at++] - '0');
            if (value > 65535) return false;
        }
        parts[count++] = (uint16_t)value;
        if (at == text.size()) return true;
        if (text[at++] != '.') return false;
    }
}

// ---- the version information -------------------------------------------------------

/* The version information is a tree of nodes, each at a multiple of 4 bytes: its
 * length (without the padding after it), its value's length (in UTF-16 units for a
 * text, bytes otherwise), its type (1 text, 0 binary), its key (UTF-16, ended by 0),
 * padding, the value, padding, then its children. */
struct VersionNode {
    std::u16string key;
    uint16_t type = 1;
    Bytes value;
    std::vector<VersionNode> children;

    VersionNode* child(const std::u16string& wanted) {
        for (VersionNode& c : children)
            if (c.key == wanted) return &c;
        return nullptr;
    }
};

uint32_t align4(uint32_t at) { return (at + 3) & ~3u; }

bool parse_node(const uint8_t* p, uint32_t size, int depth, VersionNode* node) {
    if (size < 6 || depth > 3) return false;
    uint32_t length = le16_at(p), value_length = le16_at(p + 2), at = 6;
    if (length < 6 || length > size) return false;
    *node = VersionNode();
    node->type = (uint16_t)le16_at(p + 4);
    for (;;) {
        if (at + 2 > length) return false;
        char16_t c = (char16_t)le16_at(p + at);
        at += 2;
        if (c == 0) break;
        node->key += c;
    }
    at = align4(at);
    uint32_t value_bytes = node->type == 1 ? 2 * value_length : value_length;
    if (at >= length) return true;
    if (value_bytes > length - at) value_bytes = length - at;  // some writers count a text's bytes
    node->value.assign(p + at, p + at + value_bytes);
    for (at = align4(at + value_bytes); at < length; at = align4(at + le16_at(p + at))) {
        node->children.emplace_back();
        if (!parse_node(p + at, length - at, depth + 1, &node->children.back())) return false;
    }
    return true;
}

void write_node(const VersionNode& node, Bytes* out) {
    size_t start = out->size();
    out->resize(start + 6 + 2 * (node.key.size() + 1));
    for (size_t i = 0; i < node.key.size(); i++) put16(out, start + 6 + 2 * i, node.key[i]);
    out->resize(start + align4((uint32_t)(out->size() - start)));
    out->insert(out->end(), node.value.begin(), node.value.end());
    for (const VersionNode& child : node.children) {
        out->resize(start + align4((uint32_t)(out->size() - start)));
        write_node(child, out);
    }
    put16(out, start, (uint32_t)(out->size() - start));
    put16(out, start + 2, (uint32_t)(node.type == 1 ? node.value.size() / 2 : node.value.size()));
    put16(out, start + 4, node.type);
}

Bytes text_value(const std::u16string& text) {
    Bytes value(2 * (text.size() + 1), 0);
    for (size_t i = 0; i < text.size(); i++) put16(&value, 2 * i, text[i]);
    return value;
}

std::u16string text_of(const Bytes& value) {
    std::u16string text;
    for (size_t i = 0; i + 1 < value.size() && le16_at(&value[i]) != 0; i += 2) text += (char16_t)le16_at(&value[i]);
    return text;
}

VersionNode node(const char16_t* key, uint16_t type) {
    VersionNode n;
    n.key = key;
    n.type = type;
    return n;
}

/* The version information of a program that has none: an application for 32-bit
 * Windows, its strings in Japanese and UTF-16. */
VersionNode empty_version() {
    VersionNode root = node(u"VS_VERSION_INFO", 0);
    root.value.assign(FIXED_SIZE, 0);
    put32(&root.value, 0, FIXED_SIGNATURE);
    put32(&root.value, 4, 0x00010000);
    put32(&root.value, 32, 0x00040004);  // VOS_NT_WINDOWS32
    put32(&root.value, 36, 1);           // VFT_APP
    VersionNode strings = node(u"StringFileInfo", 1);
    strings.children.push_back(node(u"041104B0", 1));
    VersionNode variables = node(u"VarFileInfo", 1), translation = node(u"Translation", 0);
    translation.value = {0x11, 0x04, 0xB0, 0x04};
    variables.children.push_back(translation);
    root.children.push_back(strings);
    root.children.push_back(variables);
    return root;
}

bool parse_version_info(const Bytes& data, VersionNode* root) {
    return parse_node(data.data(), (uint32_t)data.size(), 0, root) && root->value.size() >= FIXED_SIZE &&
           le32_at(root->value.data()) == FIXED_SIGNATURE;
}

// The first string table, where the strings for the file's language are.
VersionNode* string_table(VersionNode* root) {
    VersionNode* strings = root->child(u"StringFileInfo");
    if (strings == nullptr) {
        root->children.insert(root->children.begin(), node(u"StringFileInfo", 1));
        strings = &root->children.front();
    }
    if (strings->children.empty()) strings->children.push_back(node(u"041104B0", 1));
    return &strings->children.front();
}

const Resource* find(const std::vector<Resource>& resources, uint16_t type, const ResourceKey* name) {
    for (const Resource& r : resources)
        if (r.type.is(type) && (name == nullptr || !(r.name < *name || *name < r.name))) return &r;
    return nullptr;
}

bool write_version(const InstallerIdentity& id, std::vector<Resource>* resources, std::string* problem) {
    struct { const char16_t* key; const char* label; const std::string* text; } strings[] = {
        {u"CompanyName", "the company", &id.company},
        {u"FileDescription", "the description", &id.description},
        {u"FileVersion", "the file version", &id.file_version},
        {u"LegalCopyright", "the copyright", &id.copyright},
        {u"ProductName", "the product name", &id.product_name},
        {u"ProductVersion", "the product version", &id.product_version}};
    Resource* version = nullptr;
    for (Resource& r : *resources)
        if (r.type.is(RESOURCE_VERSION) && version == nullptr) version = &r;
    VersionNode root = empty_version();
    if (version == nullptr) {
        Resource fresh;
        fresh.type = ResourceKey::of(RESOURCE_VERSION);
        fresh.name = ResourceKey::of(1);
        fresh.language = JAPANESE;
        resources->push_back(fresh);
        version = &resources->back();
    } else if (!parse_version_info(version->data, &root)) {
        return (*problem = "has version information that cannot be read"), false;
    }

    // Each version stands for the other when only one is given.
    const std::string& file_version = id.file_version.empty() ? id.product_version : id.file_version;
    const std::string& product_version = id.product_version.empty() ? id.file_version : id.product_version;
    uint16_t parts[4];
    if (!file_version.empty() && parse_version(file_version, parts)) {
        put32(&root.value, 8, (uint32_t)parts[0] << 16 | parts[1]);
        put32(&root.value, 12, (uint32_t)parts[2] << 16 | parts[3]);
    }
    if (!product_version.empty() && parse_version(product_version, parts)) {
        put32(&root.value, 16, (uint32_t)parts[0] << 16 | parts[1]);
        put32(&root.value, 20, (uint32_t)parts[2] << 16 | parts[3]);
    }
    VersionNode* table = string_table(&root);
    for (const auto& s : strings) {
        const std::string& given = s.text == &id.file_version      ? file_version
                                   : s.text == &id.product_version ? product_version
                                                                   : *s.text;
        if (given.empty()) continue;
        std::u16string text;
        if (!property_text(s.label, given, &text, problem)) return false;
        VersionNode* entry = table->child(s.key);
        if (entry == nullptr) {
            table->children.push_back(node(s.key, 1));
            entry = &table->children.back();
        }
        entry->type = 1;
        entry->value = text_value(text);
    }
    Bytes data;
    write_node(root, &data);
    if (data.size() > 0xFFFF) return (*problem = "would have version information past 64 KiB"), false;
    version->data = data;
    return true;
}

// ---- the icon ------------------------------------------------------------------

/* An image of an icon file: a PNG file (its size in the header chunk that opens
 * it), or a DIB as icons hold it, twice as high as the image (the colours, then
 * the transparency mask of one bit a pixel, rows of whole 32-bit words). */
bool check_image(IconFile::Image* image, unsigned number, std::string* problem) {
    const Bytes& d = image->data;
    uint32_t width = 0, height = 0, bits = 0;
    if (d.size() >= 8 && memcmp(d.data(), "\x89PNG\r\n\x1a\n", 8) == 0) {
        if (d.size() < 33 || memcmp(&d[12], "IHDR", 4) != 0)
            return (*problem = format("image %u is a PNG file cut short", number)), false;
        width = big32_at(&d[16]);
        height = big32_at(&d[20]);
        static const uint8_t CHANNELS[] = {1, 0, 3, 1, 2, 0, 4};
        bits = d[25] < sizeof CHANNELS ? d[24] * CHANNELS[d[25]] : 0;
    } else {
        uint32_t header = d.size() >= 40 ? le32_at(&d[0]) : 0;
        if (header < 40 || header > d.size())
            return (*problem = format("image %u is neither a PNG file nor a bitmap", number)), false;
        width = le32_at(&d[4]);
        uint32_t doubled = le32_at(&d[8]), planes = le16_at(&d[12]), compression = le32_at(&d[16]);
        bits = le16_at(&d[14]);
        bool known_depth = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
        bool plain = compression == 0 || (compression == 3 && (bits == 16 || bits == 32));
        if (planes != 1 || !known_depth || !plain || (doubled & 0x80000001u) != 0)
            return (*problem = format("image %u is a bitmap of a kind Windows does not take for icons", number)), false;
        height = doubled / 2;
        if (width <= 256 && height <= 256) {
            uint32_t colours = le32_at(&d[32]);
            if (colours == 0 && bits <= 8) colours = 1u << bits;
            uint64_t needed = header + 4ull * colours + (compression == 3 && header == 40 ? 12 : 0) +
                              ((width * bits + 31) / 32 * 4 + (width + 31) / 32 * 4) * (uint64_t)height;
            if (colours > 256 || d.size() < needed)
                return (*problem = format("image %u is a bitmap cut short", number)), false;
        }
    }
    if (width == 0 || height == 0 || width > 256 || height > 256)
        return (*problem = format("image %u is %ux%u: Windows takes icon images of 1 to 256 pixels a side",
                                  number, width, height)),
               false;
    uint32_t listed_width = image->entry[0] != 0 ? image->entry[0] : 256;
    uint32_t listed_height = image->entry[1] != 0 ? image->entry[1] : 256;
    if (width != listed_width || height != listed_height)
        return (*problem = format("image %u is %ux%u, but the icon's directory says %ux%u", number, width,
                                  height, listed_width, listed_height)),
               false;
    // Windows picks an image by its size and depth as the directory gives them.
    if (le16_at(&image->entry[4]) == 0) image->entry[4] = 1;
    if (le16_at(&image->entry[6]) == 0 && bits <= 32) image->entry[6] = (uint8_t)bits;
    return true;
}

/* The group's directory: a count, then for each image its 12 bytes of the icon
 * file's entry and the number of its icon resource. */
Bytes icon_group(const IconFile& icon, const std::vector<uint16_t>& numbers) {
    Bytes group(6 + 14 * icon.images.size(), 0);
    put16(&group, 2, 1);
    put16(&group, 4, (uint32_t)icon.images.size());
    for (size_t i = 0; i < icon.images.size(); i++) {
        memcpy(&group[6 + 14 * i], icon.images[i].entry, 12);
        put16(&group, 6 + 14 * i + 12, numbers[i]);
    }
    return group;
}

/* The group the window's class loads (IDI_APP) is replaced, with its images; the
 * new images take the lowest numbers no other icon holds. */
bool write_icon(const IconFile& icon, std::vector<Resource>* resources, std::string* problem) {
    Resource* group = nullptr;
    for (Resource& r : *resources)
        if (r.type.is(RESOURCE_GROUP_ICON) && r.name.is(IDI_APP)) group = &r;
    if (group == nullptr) return (*problem = "has no icon for its window to replace"), false;
    uint16_t language = group->language;
    // The group's images go with it, unless another group shows them too.
    std::set<uint16_t> old_images, shared_images;
    for (const Resource& r : *resources) {
        if (!r.type.is(RESOURCE_GROUP_ICON)) continue;
        const Bytes& d = r.data;
        for (size_t i = 0; d.size() >= 6 && i < le16_at(&d[4]) && 6 + 14 * i + 14 <= d.size(); i++)
            (&r == group ? old_images : shared_images).insert((uint16_t)le16_at(&d[6 + 14 * i + 12]));
    }
    std::vector<Resource> kept;
    for (Resource& r : *resources) {
        bool old_image = r.type.is(RESOURCE_ICON) && !r.name.named && old_images.count(r.name.number) != 0 &&
                         shared_images.count(r.name.number) == 0;
        if (!old_image && &r != group) kept.push_back(r);
    }
    auto taken = [&kept](uint16_t n) {
        for (const Resource& r : kept)
            if (r.type.is(RESOURCE_ICON) && r.name.is(n)) return true;
        return false;
    };
    std::vector<uint16_t> numbers;
    for (uint16_t n = 1; numbers.size() < icon.images.size(); n++)
        if (!taken(n)) numbers.push_back(n);
    for (size_t i = 0; i < icon.images.size(); i++) {
        Resource image;
        image.type = ResourceKey::of(RESOURCE_ICON);
        image.name = ResourceKey::of(numbers[i]);
        image.language = language;
        image.data = icon.images[i].data;
        kept.push_back(image);
    }
    Resource replaced;
    replaced.type = ResourceKey::of(RESOURCE_GROUP_ICON);
    replaced.name = ResourceKey::of(IDI_APP);
    replaced.language = language;
    replaced.data = icon_group(icon, numbers);
    kept.push_back(replaced);
    *resources = kept;
    return true;
}

}  // namespace

bool InstallerIdentity::any() const {
    return !icon_path.empty() || !product_name.empty() || !company.empty() || !description.empty() ||
           !product_version.empty() || !file_version.empty() || !copyright.empty();
}

/* ICONDIR: 0, type 1 (2 is a cursor), the count; then 16 bytes an image: the 12
 * that the group keeps, and the image's offset in the file. */
bool read_icon_file(const char* path, IconFile* icon, std::string* problem) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) return (*problem = strerror(errno)), false;
    Bytes bytes(LARGEST_ICON + 1);
    size_t size = fread(bytes.data(), 1, bytes.size(), file);
    bool failed = ferror(file) != 0;
    fclose(file);
    if (failed) return (*problem = "cannot be read"), false;
    if (size > LARGEST_ICON) return (*problem = "is larger than an icon file can be here (16 MiB)"), false;
    const uint8_t* b = bytes.data();
    if (size < 6 || le16_at(b) != 0 || (le16_at(b + 2) != 1 && le16_at(b + 2) != 2))
        return (*problem = "is not a Windows icon file (.ico)"), false;
    if (le16_at(b + 2) == 2) return (*problem = "is a cursor, not an icon"), false;
    uint32_t count = le16_at(b + 4);
    if (count == 0) return (*problem = "holds no images"), false;
    if (count > MOST_IMAGES) return (*problem = format("holds %u images: at most 64 are taken", count)), false;
    if (size < 6 + 16 * count) return (*problem = "is cut short in its directory"), false;
    icon->images.clear();
    for (uint32_t i = 0; i < count; i++) {
        const uint8_t* entry = b + 6 + 16 * i;
        uint32_t length = le32_at(entry + 8), offset = le32_at(entry + 12);
        if (offset > size || size - offset < length || length == 0)
            return (*problem = format("is cut short: image %u lies past its end", i + 1)), false;
        IconFile::Image image;
        memcpy(image.entry, entry, 12);
        image.data.assign(b + offset, b + offset + length);
        if (!check_image(&image, i + 1, problem)) return false;
        icon->images.push_back(image);
    }
    return true;
}

std::string version_problem(const std::string& version) {
    uint16_t parts[4];
    if (parse_version(version, parts)) return "";
    return "takes one to four numbers of 0 to 65535 between dots (1.2.0.7), not '" + version + "'";
}

std::string property_text_problem(const std::string& utf8) {
    std::u16string text;
    std::string problem;
    return property_text("", utf8, &text, &problem) ? "" : problem.substr(1);
}

bool write_identity(const InstallerIdentity& identity, const IconFile* icon, std::vector<uint8_t>* image,
                    std::string* problem) {
    std::vector<Resource> resources;
    if (!read_resources(image->data(), (uint32_t)image->size(), &resources, problem)) return false;
    if (icon != nullptr && !write_icon(*icon, &resources, problem)) return false;
    bool versions = !identity.product_name.empty() || !identity.company.empty() || !identity.description.empty() ||
                    !identity.product_version.empty() || !identity.file_version.empty() ||
                    !identity.copyright.empty();
    if (versions && !write_version(identity, &resources, problem)) return false;
    std::vector<uint8_t> rewritten;
    if (!write_resources(*image, resources, &rewritten, problem)) return false;
    image->swap(rewritten);
    return true;
}

bool read_identity(const uint8_t* image, uint32_t size, ShownIdentity* shown) {
    *shown = ShownIdentity();
    std::vector<Resource> resources;
    std::string problem;
    VersionNode root;
    if (!read_resources(image, size, &resources, &problem)) return false;
    const Resource* version = find(resources, RESOURCE_VERSION, nullptr);
    if (version == nullptr || !parse_version_info(version->data, &root)) return false;
    VersionNode* table = string_table(&root);
    struct { const char16_t* key; std::string* text; } wanted[] = {
        {u"ProductName", &shown->product_name}, {u"CompanyName", &shown->company},
        {u"ProductVersion", &shown->version}};
    for (const auto& w : wanted)
        if (VersionNode* entry = table->child(w.key)) *w.text = utf16_to_utf8(text_of(entry->value));
    if (shown->version.empty()) {
        uint32_t high = le32_at(&root.value[16]), low = le32_at(&root.value[20]);
        shown->version = format("%u.%u.%u.%u", high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF);
    }
    return true;
}
