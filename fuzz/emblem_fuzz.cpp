// The title picture decoders (FLI/FLC first frame, IFF PBM) through emblem_decode, as the install
// hands them the bytes of TITLE.FLI. Input: the picture file.
#include <stdlib.h>

#include "fuzz_check.h"
#include "icon/decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    emblem_picture pic = {0, 0, NULL};
    if (!emblem_decode(data, size, &pic)) {
        FUZZ_CHECK(pic.pixels == NULL, "pixels left after a failure");
        return 0;
    }
    // An animation frame may grow by the stretch of 1.2: 2048 rows give 2458.
    FUZZ_CHECK(pic.width >= 1 && pic.width <= FLI_MAX_SIDE, "width %d", pic.width);
    FUZZ_CHECK(pic.height >= 1 && pic.height <= (12 * FLI_MAX_SIDE + 5) / 10, "height %d", pic.height);
    FUZZ_CHECK(pic.pixels != NULL, "no pixels");
    size_t n = (size_t)pic.width * pic.height;
    for (size_t i = 0; i < n; i++)
        FUZZ_CHECK(pic.pixels[i] == 0 || pic.pixels[i] >> 24 == 0xFF, "pixel %zu is %08x", i, pic.pixels[i]);
    free(pic.pixels);
    return 0;
}
