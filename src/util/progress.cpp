// The progress counter. No Windows header: the copy walk that adds to it also builds natively.
#include "util/util.h"

void progress_add(progress *p, uint64_t bytes) {
    p->done += bytes;
    if (p->callback) p->callback(p->done, p->expected, p->user);
}
