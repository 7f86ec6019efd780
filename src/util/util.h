// Log function, whole-file and folder helpers, and the progress counter. No Windows header: the
// format parsers that use it also build natively (fuzzing).
#pragma once
#include <stdint.h>
#include <stddef.h>
#include <stdio.h>

#include "util/text.h"  // the buffer sizes and the comparison of names

// Format checks: mingw's C99 formatter is gnu_printf to gcc; clang (the native fuzz build) knows printf.
#if defined(__clang__)
#define UTIL_FORMAT(f, a) __attribute__((format(printf, f, a)))
#elif defined(__GNUC__)
#define UTIL_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define UTIL_FORMAT(f, a)
#endif

// Formats into buf like snprintf; a longer result is cut silently, after its last whole character
// (util/text.h). Returns buf.
char *fmt_cut(char *buf, size_t size, const char *format, ...) UTIL_FORMAT(3, 4);

extern FILE *logf;  // the log stream, null while no log file is open (log.cpp)

// One line to the log file (flushed at once) and, in a window run, to the window. The log is text
// in the process's code page: UTF-8 (util/text.h). A line longer than 1023 bytes is cut like fmt_cut's.
void setup_log(const char *format, ...) UTIL_FORMAT(1, 2);

// A platform call failed with err (its GetLastError, saved at once): the next setup_error tells the
// system's words for it. The latest note counts; 0 forgets it (an install starts with that). The
// write helpers below note the reason of every failure they report; a write that a file took short
// is a full disk's (Wine tells a full disk so, as a success). In log_win.cpp, as setup_error is.
void note_reason(unsigned long err);
// The line that ends a failed step, "ERROR: " and the text; just before it the noted reason, as
// "reason: Access denied.", when the system has words for it. The reason is then forgotten.
void setup_error(const char *format, ...) UTIL_FORMAT(1, 2);

// setup_log's window half: in a window run (hwnd set, not silent) a heap copy of the line is
// posted to the window, which frees it. In util.cpp, apart from the log function, which has no
// Windows header.
void log_to_window(const char *line);

typedef void (*progress_fn)(uint64_t done, uint64_t expected, void *user);

struct progress {
    uint64_t done;        // bytes completed so far
    uint64_t expected;    // the total that done reaches at the end of the install
    progress_fn callback; // told the new total after every addition, or null
    void *user;
};

void progress_add(progress *p, uint64_t bytes);

int path_exists(const char *path);
int is_dir(const char *path);
int make_dirs(const char *path);
int write_file(const char *path, const void *data, uint64_t size);
// The whole file in a heap block with one spare byte after it; the caller frees it with free().
void *read_file(const char *path, uint64_t *size);
// Copies src to dst (replaced, its parent folders made when missing) in 1 MiB blocks, adding each
// block to p; a copied file is left with normal attributes. 1 when the whole file was copied.
int copy_file(const char *src, const char *dst, progress *p);
// The same for a file written whole or not at all (a program): one cut short is deleted.
int copy_file_whole(const char *src, const char *dst);
// Size in bytes of the file at path; 0 when it cannot be had.
int file_size(const char *path, uint64_t *size);
// Seeks the open file h (a HANDLE) to byte at and reads exactly len bytes; 0 on any shortfall.
int read_at(void *h, uint64_t at, void *buf, uint32_t len);

enum { COPY_BLOCK = 1048576 };

// 1 for a name that may become a file or folder (or be entered or deleted as one): not empty, no
// separator, drive colon or control character, not only dots and blanks, and no device name (CON,
// COM1, CONOUT$, ...) once the trailing dots and blanks that Windows drops are gone. Bytes from
// 0x80 up are the parts of UTF-8 characters and never a separator, a colon or a control.
int name_is_safe(const char *name);
// 1 for a name Windows opens as a device (CON, COM1, "nul.txt", "COM1   "), whatever its case.
// Windows takes the superscripts 1, 2 and 3 for digits there: "COM¹" in UTF-8, or as the one byte
// of code page 1252 on a system that ignores the UTF-8 code page.
int is_device_name(const char *name);
// 1 for a path that names a file on a local drive: a relative path (".." allowed: it only reads) or
// "X:\...". Refused: network and device paths ("\\host\share", "//x", "\\.\", "\\?\"), "X:name"
// (relative to drive X's current folder), any other colon (a stream), control bytes, and a device
// name in any part.
int path_is_local(const char *path);
