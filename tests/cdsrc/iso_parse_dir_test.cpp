// One directory's records as iso_parse_dir (cdsrc/iso9660.cpp) reads them, from bytes built record by
// record (iso_builder): names, flags and padding, damage, long listings.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "cdsrc/iso9660.h"
#include "iso_builder.h"

static std::vector<iso_entry> parse(const std::string &data, uint32_t len) {
    int count = -1;
    iso_entry *list = iso_parse_dir((const uint8_t *)data.data(), len, &count);
    std::vector<iso_entry> v(list, list + count);
    free(list);
    return v;
}

TEST(iso_parse_dir, identifiers_become_names) {
    struct {
        const char *why;
        std::string id, name;
    } cases[] = {
        {"version dropped", "README.TXT;1", "README.TXT"},
        {"empty extension dropped", "FILE.;1", "FILE"},
        {"no version", "DATA", "DATA"},
        {"starts with version", ";1", ""},
        {"63 bytes, less a final dot", std::string(62, 'A') + "." + std::string(37, 'B'), std::string(62, 'A')},
        {"letter case kept", "MiXed.Txt", "MiXed.Txt"},
        {"UTF-8 kept", "\xC3\x9C.DAT;1", "\xC3\x9C.DAT"},
        // 40 "ñ" after "AB": 63 bytes would end with the first byte of the 31st.
        {"cut to 63 bytes between characters", "AB" + [] { std::string n; for (int i = 0; i < 40; i++) n += "\xC3\xB1"; return n; }(),
         "AB" + [] { std::string n; for (int i = 0; i < 30; i++) n += "\xC3\xB1"; return n; }()},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.why);
        std::string d = iso_builder::file(c.id, 20, 5);
        auto v = parse(d, (uint32_t)d.size());
        ASSERT_EQ(v.size(), 1u);
        EXPECT_EQ(v[0].name, c.name);
        EXPECT_EQ(v[0].lba, 20u);
        EXPECT_EQ(v[0].size, 5u);
        EXPECT_EQ(v[0].directory, 0);
    }
}

TEST(iso_parse_dir, self_parent_padding_and_flags) {
    std::string d = iso_builder::rec(std::string(1, '\0'), 1, 2048, 2) + iso_builder::rec(std::string(1, '\1'), 1, 2048, 2) +
                    iso_builder::dir("SUB", 30, 2048);
    d.resize(2048, '\0');  // the rest of the sector is zero: the walk goes on in the next one
    d += iso_builder::rec("PART", 40, 10, 0x80) + iso_builder::file("PART", 41, 3);
    d.resize(4096, '\0');
    auto v = parse(d, 4096);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].name, std::string("SUB"));
    EXPECT_EQ(v[0].directory, 1);
    EXPECT_EQ(v[1].continued, 1);
    EXPECT_EQ(v[2].continued, 0);
    EXPECT_EQ(v[2].lba, 41u);
}

// Damage ends the directory; what came before it stays listed and nothing is read past the data.
TEST(iso_parse_dir, damaged_record_ends_the_directory) {
    std::string good = iso_builder::file("A", 20, 1);
    struct {
        const char *why;
        std::string tail;
        uint32_t len_cut;  // bytes of the data to hand over, 0 for all
    } cases[] = {
        {"record shorter than its fixed part", std::string("\x20", 1) + std::string(31, 'x'), 0},
        {"identifier runs past the record", [] { std::string r = iso_builder::file("B", 1, 1); r[32] = 60; return r; }(), 0},
        {"record runs past the data", iso_builder::file("LONGNAME", 1, 1), 10},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.why);
        std::string d = good + c.tail;
        uint32_t len = (uint32_t)(c.len_cut ? good.size() + c.len_cut : d.size());
        // The buffer ends exactly at len: a sanitizer build reports any read past it.
        std::string exact = d.substr(0, len);
        auto v = parse(exact, len);
        ASSERT_EQ(v.size(), 1u);
        EXPECT_EQ(v[0].name, std::string("A"));
    }
}

TEST(iso_parse_dir, listing_grows_past_64_and_128) {
    std::string d;
    for (int i = 0; i < 200; i++) {
        char id[16];
        snprintf(id, sizeof id, "F%03d.TXT;1", i);
        std::string r = iso_builder::file(id, 100 + i, i);
        if (d.size() % 2048 + r.size() > 2048) d.resize((d.size() / 2048 + 1) * 2048, '\0');
        d += r;
    }
    auto v = parse(d, (uint32_t)d.size());
    ASSERT_EQ(v.size(), 200u);
    EXPECT_EQ(v[199].name, std::string("F199.TXT"));
    EXPECT_EQ(v[199].size, 199u);
}
