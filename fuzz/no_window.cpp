// Natively there is no setup window: setup_log writes its lines to the log stream alone. Nor is
// there a system locale: a name from a disc that is not UTF-8 is read as Latin-1 (the letters of
// code page 1252), so that such names grow as they do under Windows. The one piece of the native
// build that is not the setup's own code.
#include "util/text.h"
#include "util/util.h"

void log_to_window(const char *) {}

int text_from_ansi(const char *in, size_t n, char *out, size_t size) {
    size_t k = 0;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)in[i];
        if (k + (c < 0x80 ? 1 : 2) >= size) return 0;
        if (c >= 0x80) {
            out[k++] = (char)(0xC0 | c >> 6);
            c = (unsigned char)(0x80 | (c & 0x3F));
        }
        out[k++] = (char)c;
    }
    out[k] = 0;
    return 1;
}
