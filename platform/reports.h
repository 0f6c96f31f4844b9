// Reports of the worker: the member being extracted, the progress, failures, an
// unknown header and the end of the run.  In the stub they go to the progress
// window (platform/win32/window_reports.cpp); everywhere else to installable hooks
// (platform/report_hooks.h).
#pragma once

#include <stdint.h>

// Why a member (or the archive) did not come out right.  The engine records each
// in the run outcome and reports it through the platform seam.
enum FailureKind {
    FAILED_UNSAFE_PATH,     // absolute path or '..': would land outside the destination
    FAILED_UNKNOWN_METHOD,  // method id not in METHOD_TABLE: skipped
    FAILED_CANNOT_CREATE,   // the output file could not be opened
    FAILED_WRITE_ERROR,     // a write or the close of the output file failed
    FAILED_CRC_MISMATCH,    // the data's CRC-16 differs from the header's
    FAILED_DAMAGED,         // the compressed data is not a valid stream
    FAILED_TRUNCATED,       // the archive ends inside the member's data
    FAILED_NO_MEMORY,       // a buffer for the member could not be allocated
    FAILED_LINK_IN_PATH,    // a symbolic link, junction or reparse point on the way
    FAILED_WINDOWS_NAME,    // a name Windows cannot hold (device, ':', control byte...)
    FAILED_TOO_LARGE,       // sizes past what MemberSize holds (the stub's 32 bits)
    // Whole-run refusals, found before anything is written: nothing is extracted.
    ARCHIVE_DAMAGED,        // a header that is neither a clean end nor readable
    ARCHIVE_CUT_SHORT,      // a member's data or the end byte lies past the file's end
    ARCHIVE_NOT_LHA,        // no LHA archive at all where it should begin
    ARCHIVE_NO_SPACE,       // the members need more than the destination has free
    ARCHIVE_NOT_WRITABLE,   // the destination takes no new file (read-only)
    NO_FAILURE              // not a failure: what a sound member comes out as
};

// The stub's progress window and its bar, given once at start-up before the worker
// runs; the reports below go to them.  Only in the stub.
void platform_set_report_window(void* main_window, void* progress_bar);

// The member about to be extracted (WM_SFX_MEMBER, sent).
void platform_report_member(const char* name);
// A new progress percentage (PBM_SETPOS to the progress bar, sent).
void platform_report_progress(uint32_t percent);
// A member failed, or the archive is damaged (name null).
void platform_report_failure(const char* name, FailureKind kind);
// A member that came out right only when read by its method's older encoders'
// rule (the format's reading failed).  Nothing to show in the stub.
void platform_report_older_reading(const char* name);
// A header of a layout no reader knows: in the stub the window shows the
// "Unknown header" box (caption "Mavu SFX", hand icon, OK only).
void platform_report_unknown_header();
// The worker's last act: WM_SFX_DONE, or WM_SFX_CANCELLED when `cancelled`.
void platform_report_end(bool cancelled);
