// The tool's one way of writing its output (an archive, an installer).
//
// A plain file, or a name where nothing is yet, is written into a new temporary
// file beside it and moved over the name only once complete, so that a failure or
// a signal leaves nothing half-written and an existing file as it was.  A symbolic
// link is written through: the file it leads to is replaced that way, and the link
// stays.  A device, a FIFO or a terminal is written into as it is, and "-" is the
// standard output (unless that is a terminal); the bytes are gathered in a scratch file first (the writers go
// back to fill in sizes) and sent on whole at the end.  Missing folders on the way
// to a new file are made.
#pragma once

#include <stdio.h>

#include <string>

struct ReplacingFile {
    FILE* file;             // open for reading and writing
    std::string path;       // the name given
    std::string shown;      // the name as messages show it
    std::string target;     // the file that will hold the bytes: `path`, or a link's end
    std::string temporary;  // the name `file` has until it is moved; empty for a stream
    FILE* stream;           // the device, FIFO or standard output, or null
};

// Opens the output for `path`.  On failure `problem` says why (a system's reason or
// "is a folder") and nothing is left behind.
bool begin_replacing(ReplacingFile* out, const char* path, std::string* problem);
// Completes the output: the temporary file moved over the target, or the bytes sent
// to the stream.  False (errno set) when that fails; nothing is then left behind.
bool finish_replacing(ReplacingFile* out);
// Closes and removes the temporary file (or the scratch file).
void abandon_replacing(ReplacingFile* out);

// True when `path` names the standard output.
bool is_standard_output(const char* path);

// "mavusfx: NAME: why" on stderr, after what is on stdout.
void tell_output_problem(const ReplacingFile& out, const std::string& why);
