#include "readers.h"

// Until sheets are read, a sheet is tried as a plain image itself, which fails.
void cue_read_sheet(cd_source *, char *) {}
