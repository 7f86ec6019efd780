// The log's Windows half beside log_to_window: the system's words for why a step failed, told on the
// line before the step's ERROR line.
#include <windows.h>
#include <stdarg.h>

#include "util/text.h"
#include "util/util.h"

// Noted by the install's thread, or by the window's while no install runs: never by both at once.
static DWORD reason;

void note_reason(unsigned long err) { reason = err; }

void setup_error(const char *format, ...) {
    char line[1024], words[512];
    va_list ap;
    va_start(ap, format);
    int k = vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
    if (k >= 0 && (size_t)k >= sizeof line) line[text_whole(line, sizeof line - 1)] = 0;  // as setup_log cuts
    DWORD err = reason;
    reason = 0;
    DWORD n = err ? FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, err, 0, words,
                                   sizeof words, NULL)
                  : 0;
    // The message ends with a line end; an error the system has no words for gets no line at all.
    while (n > 0 && (words[n - 1] == '\r' || words[n - 1] == '\n' || words[n - 1] == ' ')) words[--n] = 0;
    if (n > 0) setup_log("reason: %s", words);
    setup_log("ERROR: %s", line);
}
