// The log function and the bounded formatter. No Windows header: the format parsers that log
// also build natively (fuzzing); posting a line to the setup window is util.cpp's log_to_window.
#include <stdarg.h>
#include <stdio.h>

#include "util/text.h"
#include "util/util.h"

FILE *logf;

// vsnprintf into buf; a result that did not fit ends with the last whole character that did.
static void format_cut(char *buf, size_t size, const char *format, va_list ap) {
    int k = vsnprintf(buf, size, format, ap);
    if (k >= 0 && (size_t)k >= size) buf[text_whole(buf, size - 1)] = 0;
}

char *fmt_cut(char *buf, size_t size, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    format_cut(buf, size, format, ap);
    va_end(ap);
    return buf;
}

void setup_log(const char *format, ...) {
    char line[1024];
    va_list ap;
    va_start(ap, format);
    format_cut(line, sizeof line, format, ap);
    va_end(ap);
    if (logf) {
        fprintf(logf, "%s\n", line);
        fflush(logf);  // complete on disk even when the process is ended abruptly
    }
    log_to_window(line);
}
