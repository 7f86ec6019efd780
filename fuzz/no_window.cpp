// Natively there is no setup window: setup_log writes its lines to the log stream alone. The one
// piece of the native build that is not the setup's own code.
#include "util/util.h"

void log_to_window(const char *) {}
