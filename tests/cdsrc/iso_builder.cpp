#include "iso_builder.h"

#include <string.h>

static void le32_at(std::string &s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) s[at + i] = (char)(v >> (8 * i));
}

iso_builder::iso_builder() : img(18 * 2048, 0) {
    uint8_t *pvd = &img[16 * 2048];
    pvd[0] = 1;
    memcpy(pvd + 1, "CD001", 5);
    pvd[6] = 1;
    uint8_t *end = &img[17 * 2048];
    end[0] = 255;
    memcpy(end + 1, "CD001", 5);
}

std::string iso_builder::rec(const std::string &id, uint32_t lba, uint32_t size, uint8_t flags) {
    size_t len = 33 + id.size();
    len += len & 1;  // records have even length
    std::string r(len, 0);
    r[0] = (char)len;
    le32_at(r, 2, lba);
    le32_at(r, 10, size);
    r[25] = (char)flags;
    r[32] = (char)id.size();
    memcpy(&r[33], id.data(), id.size());
    return r;
}

uint32_t iso_builder::add_data(const std::string &bytes) {
    uint32_t lba = (uint32_t)(img.size() / 2048);
    size_t secs = bytes.size() / 2048 + (bytes.size() % 2048 != 0);
    img.resize(img.size() + secs * 2048, 0);
    memcpy(&img[lba * 2048], bytes.data(), bytes.size());
    return lba;
}

uint32_t iso_builder::add_dir(const std::vector<std::string> &records, uint32_t *len) {
    uint32_t lba = (uint32_t)(img.size() / 2048);
    std::vector<std::string> all = {rec(std::string(1, '\0'), lba, 0, 2), rec(std::string(1, '\1'), lba, 0, 2)};
    all.insert(all.end(), records.begin(), records.end());
    std::string data;
    for (const std::string &r : all) {
        size_t room = 2048 - data.size() % 2048;
        if (r.size() > room) data.append(room, '\0');
        data += r;
    }
    data.append((2048 - data.size() % 2048) % 2048, '\0');
    *len = (uint32_t)data.size();
    le32_at(data, 10, *len);  // "." carries the directory's own length
    return add_data(data);
}

void iso_builder::put(uint32_t lba, const std::string &bytes, uint32_t offset) {
    size_t at = (size_t)lba * 2048 + offset;
    if (img.size() < at + bytes.size()) img.resize(at + bytes.size(), 0);
    memcpy(&img[at], bytes.data(), bytes.size());
}

void iso_builder::set_root(uint32_t lba, uint32_t len) {
    std::string r = rec(std::string(1, '\0'), lba, len, 2);
    put(16, r, 156);
}
