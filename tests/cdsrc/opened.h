// What cd_open makes of a path, in cd_describe's words, or "(null)" when it refuses the path.
#pragma once
#include <string>

#include "cdsrc/cdsrc.h"

inline std::string opened(const std::string &path) {
    cd_source *s = cd_open(path.c_str());
    if (!s) return "(null)";
    std::string d = cd_describe(s);
    cd_close(s);
    return d;
}
