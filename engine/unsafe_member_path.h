// Whether a member's path would be written outside the destination.
#pragma once

// True when a member path would be written outside the destination: after the one
// leading '/' is dropped it is absolute ('/', '\\', a drive prefix such as "C:",
// a UNC prefix) or has a ".." component.
bool is_unsafe_member_path(const char* path);
