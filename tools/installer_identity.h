// The installer's identity as Windows shows it: the icon of its window and of the
// file in Explorer, and the version information of the file's properties (product,
// company, description, versions, copyright).  make takes them from the publisher
// and writes them into the stub's resources; list reads them back.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// What the publisher gives; empty for what is left as the stub has it.  Texts are
// UTF-8; versions are dotted numbers ("1.2", "1.2.0.7").
struct InstallerIdentity {
    std::string icon_path;
    std::string product_name, company, description, product_version, file_version, copyright;

    bool any() const;
};

// A Windows icon file: its images, each with the directory entry that describes it
// (the 12 bytes before the image's offset: size, colours, planes, bits, length).
struct IconFile {
    struct Image {
        uint8_t entry[12];
        std::vector<uint8_t> data;  // a PNG file or a DIB (header, colours, masks)
    };
    std::vector<Image> images;
};

// Reads and checks the icon file at `path`.  False, with a sentence after the file's
// name in `problem`, for a file that is no icon or holds an image Windows cannot use.
bool read_icon_file(const char* path, IconFile* icon, std::string* problem);

// What is wrong with a version ("takes one to four numbers ... not '1.x'") or a
// property's text ("is longer than 255 characters"), told after the setting's
// name; empty when it is right.
std::string version_problem(const std::string& version);
std::string property_text_problem(const std::string& utf8);

// Writes `identity` (checked) and `icon` (read, or null) into the resources of the
// stub `image`: the icon group the stub's window loads and its images, and the
// version information's fixed part and strings, language and other strings kept.
// False, with the reason in `problem`, when the stub's resources cannot be rewritten.
bool write_identity(const InstallerIdentity& identity, const IconFile* icon, std::vector<uint8_t>* image,
                    std::string* problem);

// What list shows of an installer: the product name, company and version (the
// product version's string, else the fixed part's), UTF-8; empty when absent.
struct ShownIdentity {
    std::string product_name, company, version;
};
bool read_identity(const uint8_t* image, uint32_t size, ShownIdentity* shown);
