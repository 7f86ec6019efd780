#include "picture_builder.h"

std::string le16s(unsigned v) { return std::string{(char)(v & 255), (char)(v >> 8 & 255)}; }
std::string le32s(uint32_t v) { return le16s(v & 0xFFFF) + le16s(v >> 16); }
std::string be16s(unsigned v) { return std::string{(char)(v >> 8 & 255), (char)(v & 255)}; }
std::string be32s(uint32_t v) { return be16s(v >> 16) + be16s(v & 0xFFFF); }

std::string bytes(std::initializer_list<int> v) {
    std::string s;
    for (int b : v) s += (char)b;
    return s;
}

void put16(std::string *s, size_t at, unsigned v) { s->replace(at, 2, le16s(v)); }
void put32(std::string *s, size_t at, uint32_t v) { s->replace(at, 4, le32s(v)); }

std::string ichunk(const char *id, const std::string &data) {
    return std::string(id, 4) + be32s(data.size()) + data + (data.size() & 1 ? std::string(1, 0) : "");
}

std::string bmhd(int w, int h, int compression) {
    std::string d = be16s(w) + be16s(h) + std::string(16, 0);
    d[8] = 8;  // planes
    d[10] = (char)compression;
    return ichunk("BMHD", d);
}

std::string pbm(const std::string &chunks) { return "FORM" + be32s(4 + chunks.size()) + "PBM " + chunks; }
