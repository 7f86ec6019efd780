// Builds small ISO 9660 volumes in memory, record by record, so a test can damage one field.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

struct iso_builder {
    std::vector<uint8_t> img;  // 2048-byte sectors; 0..15 system area, 16 the descriptor, 17 the terminator

    iso_builder();
    // One directory record: [0] length, [2..5] extent, [10..13] size, [25] flags, [32] id length, [33..] id.
    static std::string rec(const std::string &id, uint32_t lba, uint32_t size, uint8_t flags = 0);
    static std::string file(const std::string &id, uint32_t lba, uint32_t size) { return rec(id, lba, size); }
    static std::string dir(const std::string &id, uint32_t lba, uint32_t size) { return rec(id, lba, size, 2); }

    uint32_t add_data(const std::string &bytes);  // new extent at the end; returns its first sector
    // A directory extent holding "." and ".." and the records, none spanning a sector; returns its first
    // sector, with its length in *len.
    uint32_t add_dir(const std::vector<std::string> &records, uint32_t *len);
    void put(uint32_t lba, const std::string &bytes, uint32_t offset = 0);
    void set_root(uint32_t lba, uint32_t len);
    std::string bytes() const { return std::string(img.begin(), img.end()); }
};
