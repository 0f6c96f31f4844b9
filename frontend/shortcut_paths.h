// The paths of the shortcuts and the launch, composed in 260-byte buffers.  Each
// returns false, writing nothing usable, when the result would not fit: such a
// shortcut or launch is skipped rather than written to a cut path.
#pragma once

// The file-name part of `path`: after its last '\\', '/' or ':' (outside Shift-JIS
// characters) and before its last '.', as _splitpath splits it.
void file_name_part(const char* path, char* out, unsigned size);

// `folder`, a backslash, the file-name part of `shortcut_target` and ".lnk".
bool compose_link_path(const char* folder, const char* shortcut_target, char* out, unsigned size);

// `dest_folder` with a backslash unless it ends in one, then `shortcut_target`.
bool compose_link_target(const char* dest_folder, const char* shortcut_target, char* out,
                         unsigned size);

// `dest_folder`, always one backslash, then `launch_target`.
bool compose_launch_path(const char* dest_folder, const char* launch_target, char* out,
                         unsigned size);
