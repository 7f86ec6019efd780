#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include "cdsrc/cdsrc.h"
#include "cdsrc/nrg.h"
#include "iso_builder.h"
#include "support.h"

// --- chunk and image builders ---------------------------------------------------------------------

static std::string be(uint64_t v, int w) {
    std::string s(w, 0);
    for (int i = 0; i < w; i++) s[i] = (char)(v >> (8 * (w - 1 - i)));
    return s;
}

// A track entry of a DAOX (w = 8) or DAOI (w = 4) chunk.
static std::string entry(int w, uint16_t size, uint8_t mode, uint64_t index0, uint64_t index1, uint64_t end) {
    return std::string(12, 'I') + be(size, 2) + (char)mode + std::string(3, 0) + be(index0, w) + be(index1, w) +
           be(end, w);
}

// A chunk whose length field says len, whatever data follows.
static std::string chunk_len(const char *id, uint32_t len, const std::string &data) {
    return std::string(id, 4) + be(len, 4) + data;
}
static std::string chunk(const char *id, const std::string &data) {
    return chunk_len(id, (uint32_t)data.size(), data);
}

static std::string dao(int w, int first, const std::vector<std::string> &entries) {
    std::string d = std::string(20, 'H') + (char)first + (char)0xEE;
    for (const std::string &e : entries) d += e;
    return chunk(w == 8 ? "DAOX" : "DAOI", d);
}

static const std::string k_end = chunk("END!", "");

// A whole image: the track bytes, then the chunk list, then a version 2 or 1 footer.
static std::string image(const std::string &tracks, const std::string &chunks, int version = 2) {
    std::string footer = version == 2 ? "NER5" + be(tracks.size(), 8) : "NERO" + be(tracks.size(), 4);
    return tracks + chunks + footer;
}

// The chunk area in memory that ends where a no-access page begins, so that a read past its end faults.
struct guarded {
    uint8_t *base;
    size_t span;
    const uint8_t *p;
    explicit guarded(const std::string &bytes) {
        size_t page = 4096, body = (bytes.size() + page - 1) / page * page;
        span = body + page;
        base = (uint8_t *)VirtualAlloc(NULL, span, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        DWORD old;
        VirtualProtect(base + body, page, PAGE_NOACCESS, &old);
        uint8_t *at = base + body - bytes.size();
        memcpy(at, bytes.data(), bytes.size());
        p = at;
    }
    ~guarded() { VirtualFree(base, 0, MEM_RELEASE); }
};

struct row {
    int32_t number, audio;
    uint32_t start_lba, sectors;
    uint64_t file_offset;
    uint32_t sector_size;
};

static std::vector<row> walk(const std::string &area) {
    guarded g(area);
    cd_track t[MAX_TRACKS];
    memset(t, 0x5A, sizeof t);
    int n = nrg_read_chunks(g.p, area.size(), t);
    std::vector<row> out;
    for (int i = 0; i < n; i++)
        out.push_back({t[i].number, t[i].audio, t[i].start_lba, t[i].sectors, t[i].file_offset, t[i].sector_size});
    return out;
}

static std::string show(const std::vector<row> &rows) {
    std::string s;
    char line[160];
    for (const row &r : rows) {
        snprintf(line, sizeof line, "%d %d start=%u sectors=%u offset=%llu size=%u\n", r.number, r.audio,
                 r.start_lba, r.sectors, (unsigned long long)r.file_offset, r.sector_size);
        s += line;
    }
    return s;
}

// --- footer -------------------------------------------------------------------------------------------

TEST(nrg_chunk_area, footers_and_bounds) {
    const uint64_t G4 = 1ull << 32;
    struct {
        const char *name;
        std::string footer;
        uint64_t size;
        int ok;
        uint64_t offset;
        uint32_t len;
    } cases[] = {
        {"v2", "NER5" + be(1000, 8), 5000, 1, 1000, 4000},
        {"v2_high_half_counts", "NER5" + be(G4 + 5, 8), G4 + 100, 1, G4 + 5, 95},
        {"v1", "abcdNERO" + be(1000, 4), 5000, 1, 1000, 4000},
        {"v1_low_word_only", std::string(4, 0) + "NERO" + be(0xFFFFFFF0u, 4), G4, 1, 0xFFFFFFF0u, 16},
        {"v2_before_v1", "NER5NERO" + be(12, 4), 5000, 0, 0, 0},  // read as the 64-bit offset "NERO...": outside
        {"wrong_magic", "NER4" + be(1000, 8), 5000, 0, 0, 0},
        {"lower_case", "abcdnero" + be(1000, 4), 5000, 0, 0, 0},
        {"offset_at_end", "NER5" + be(5000, 8), 5000, 0, 0, 0},
        {"offset_past_end", "abcdNERO" + be(9000, 4), 5000, 0, 0, 0},
        {"offset_far_past_end", "NER5" + be(~0ull, 8), 5000, 0, 0, 0},
        {"area_at_cap", "NER5" + be(100, 8), 100 + (uint64_t)NRG_AREA_MAX, 1, 100, NRG_AREA_MAX},
        {"area_past_cap", "NER5" + be(99, 8), 100 + (uint64_t)NRG_AREA_MAX, 0, 0, 0},
        // 4 GiB + 100 bytes would pass a cap checked after cutting the length to 32 bits.
        {"area_4g_plus", "NER5" + be(0, 8), G4 + 100, 0, 0, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.footer.size(), (size_t)NRG_FOOTER);
        uint64_t offset = 7;
        uint32_t len = 7;
        EXPECT_EQ(nrg_chunk_area((const uint8_t *)c.footer.data(), c.size, &offset, &len), c.ok);
        if (c.ok) {
            EXPECT_EQ(offset, c.offset);
            EXPECT_EQ(len, c.len);
        }
    }
}

// --- the track table ----------------------------------------------------------------------------------

enum { R = 2352 };

// The two tracks of sector size 2352: a 150-sector pregap and 1000 sectors, then 150 and 500.
static std::vector<std::string> two_tracks(int w) {
    uint64_t end1 = 352800 + 1000ull * R, index1 = end1 + 150 * R;
    return {entry(w, R, 0, 0, 352800, end1), entry(w, R, 7, end1, index1, index1 + 500ull * R)};
}
static const std::string k_two = "1 0 start=0 sectors=1000 offset=352800 size=2352\n"
                                 "2 1 start=1150 sectors=500 offset=3057600 size=2352\n";

TEST(nrg_read_chunks, track_tables) {
    std::vector<std::string> x = two_tracks(8), i = two_tracks(4);
    const std::string blank = entry(8, 0, 0, 0, 1000ull * R, 5000ull * R);
    const std::string skip = chunk("CUEX", std::string(48, 'c')) + chunk("SINF", be(1, 4)) + chunk("MTYP", be(1, 4));
    const uint64_t G4 = 1ull << 32;
    struct {
        const char *name;
        std::string area;
        std::string table;
    } cases[] = {
        {"daox_two_tracks", dao(8, 1, x) + k_end, k_two},
        {"daoi_gives_the_same_table", dao(4, 1, i) + k_end, k_two},
        {"version_1_area_without_end", dao(4, 1, i) + "NERO" + be(0, 4), k_two},
        {"other_chunks_skipped_by_length", skip + dao(8, 1, x) + k_end, k_two},
        {"unknown_chunk_holding_dao_bytes", chunk("ZZZZ", dao(8, 40, x)) + dao(8, 1, x) + k_end, k_two},
        {"end_stops_before_a_dao", k_end + dao(8, 1, x), ""},
        {"end_stops_the_walk", dao(8, 1, x) + k_end + dao(8, 9, x), k_two},
        {"first_track_byte_numbers", dao(8, 5, x) + k_end,
         "5 0 start=0 sectors=1000 offset=352800 size=2352\n6 1 start=1150 sectors=500 offset=3057600 size=2352\n"},
        {"blank_entry_closes_up", dao(8, 1, {x[0], blank, x[1]}) + k_end, k_two},
        {"only_blank_entries", dao(8, 1, {blank, blank}) + k_end, ""},
        {"index1_before_index0_skipped", dao(8, 1, {x[0], entry(8, R, 7, 10 * R, 5 * R, 20 * R), x[1]}) + k_end,
         k_two},
        {"end_before_index1_skipped", dao(8, 1, {x[0], entry(8, R, 7, 5 * R, 10 * R, 9 * R), x[1]}) + k_end,
         k_two},
        {"empty_track_kept", dao(8, 1, {entry(8, 2048, 0, 0, 150 * 2048, 150 * 2048)}) + k_end,
         "1 0 start=0 sectors=0 offset=307200 size=2048\n"},
        {"remainders_dropped",
         dao(8, 1, {entry(8, 2048, 0, 100, 100 + 150 * 2048 + 2047, 100 + 160 * 2048 + 4000)}) + k_end,
         "1 0 start=0 sectors=10 offset=309347 size=2048\n"},
        {"no_pregap_wraps_the_address", dao(8, 1, {entry(8, R, 0, 0, 0, 10 * R)}) + k_end,
         "1 0 start=4294967146 sectors=10 offset=0 size=2352\n"},
        {"positions_past_4g", dao(8, 1, {entry(8, R, 0, G4, G4 + 150 * R, G4 + 160 * R)}) + k_end,
         "1 0 start=0 sectors=10 offset=4295320096 size=2352\n"},
        {"daoi_positions_are_32_bit",
         dao(4, 1, {entry(4, R, 0, 0xFFFFFFFFull - 160 * R, 0xFFFFFFFFull - 10 * R, 0xFFFFFFFF)}) + k_end,
         "1 0 start=0 sectors=10 offset=4294943775 size=2352\n"},
        // Each chunk numbers from its own first-track byte; the running total goes on across chunks.
        {"second_chunk_numbers_from_its_byte", dao(8, 1, {x[0]}) + dao(8, 2, {x[1]}) + k_end, k_two},
        {"third_chunk",
         dao(8, 1, {x[0]}) + dao(8, 2, {x[1]}) + dao(4, 3, {entry(4, R, 7, 0, 150 * R, 160 * R)}) + k_end,
         k_two + "3 1 start=1800 sectors=10 offset=352800 size=2352\n"},
        {"dao_too_short_for_an_entry", chunk("DAOX", (dao(8, 1, x).substr(8, 63))) + dao(8, 7, {x[0]}) + k_end,
         "7 0 start=0 sectors=1000 offset=352800 size=2352\n"},
        {"daoi_too_short_for_an_entry", chunk("DAOI", (dao(4, 1, i).substr(8, 51))) + k_end, ""},
        {"partial_entry_ignored", chunk("DAOX", dao(8, 1, x).substr(8, 22 + 42 + 41)) + k_end,
         "1 0 start=0 sectors=1000 offset=352800 size=2352\n"},
        {"audio_only_for_mode_7",
         dao(8, 1, {entry(8, R, 6, 0, 150 * R, 160 * R), entry(8, R, 0x87, 160 * R, 160 * R, 170 * R)}) + k_end,
         "1 0 start=0 sectors=10 offset=352800 size=2352\n2 0 start=10 sectors=10 offset=376320 size=2352\n"},
        // Damaged lists: the walk ends at a length that claims more than remains.
        {"length_past_the_area", dao(8, 1, x) + chunk_len("DAOX", 5000, dao(8, 3, x).substr(8)), k_two},
        {"dao_length_past_the_area", chunk_len("DAOX", 1000, dao(8, 1, x).substr(8)), ""},
        {"length_wraps_8_plus", dao(8, 1, x) + chunk_len("ZZZZ", 0xFFFFFFF8u, "") + dao(8, 3, x), k_two},
        {"length_max", chunk_len("ZZZZ", 0xFFFFFFFFu, "") + dao(8, 1, x), ""},
        {"zero_length_chunks_step_over", chunk("ZZZZ", "") + chunk("DAOX", "") + dao(8, 1, x) + k_end, k_two},
        {"head_cut_short", dao(8, 1, x) + "DAOX" + be(64, 3), k_two},
        {"area_of_7_bytes", "END!abc", ""},
        {"empty_area", "", ""},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(show(walk(c.area)), c.table);
    }
}

TEST(nrg_read_chunks, stops_at_99_tracks) {
    std::vector<std::string> many;
    for (uint64_t k = 0; k < 120; k++)
        many.push_back(entry(8, R, 7, k * 160 * R, (k * 160 + 150) * R, (k + 1) * 160 * R));
    std::vector<row> one = walk(dao(8, 1, many) + k_end);
    ASSERT_EQ(one.size(), 99u);
    EXPECT_EQ(one[98].number, 99);
    EXPECT_EQ(one[98].start_lba, 98u * 160);
    // Over two chunks: 60 from the first, 39 from the second, numbered from its own byte.
    std::vector<std::string> a(many.begin(), many.begin() + 60), b(many.begin() + 60, many.end());
    std::vector<row> two = walk(dao(8, 1, a) + dao(8, 61, b) + k_end);
    ASSERT_EQ(two.size(), 99u);
    EXPECT_EQ(two[60].number, 61);
    EXPECT_EQ(two[98].number, 99);
    EXPECT_EQ(two[98].start_lba, 98u * 160);
}

// Each troublesome length written over every 4-byte position of a valid list (so over every length
// field), the list also cut short: the walk stays inside the area (a read past it faults on the guard
// page) and ends.
TEST(nrg_read_chunks, damaged_lengths_stay_inside) {
    std::string area =
        chunk("CUEX", std::string(16, 'c')) + dao(8, 1, two_tracks(8)) + dao(4, 3, two_tracks(4)) + k_end;
    const uint32_t lengths[] = {0, 1, 7, 8, 21, 22, 63, 64, 65, 0x7FFFFFFF, 0xFFFFFFF7u, 0xFFFFFFF8u, 0xFFFFFFFFu};
    for (size_t at = 0; at + 8 <= area.size(); at++) {
        for (uint32_t len : lengths) {
            std::string bad = area;
            memcpy(&bad[at], be(len, 4).data(), 4);
            for (size_t cut : {bad.size(), bad.size() - 1, at + 6}) {
                SCOPED_TRACE(testing::Message() << "at " << at << " length " << len << " cut " << cut);
                EXPECT_LE(walk(bad.substr(0, cut)).size(), 4u);
            }
        }
    }
}

// --- cd_open ------------------------------------------------------------------------------------------

// The file can be opened for writing with no sharing: nobody holds it open.
static bool closed(const std::string &path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

static std::string table_text(const cd_source *s) {
    std::string out;
    char line[200];
    for (int i = 0; i < s->track_count; i++) {
        const cd_track *t = &s->tracks[i];
        snprintf(line, sizeof line, "track %d %s start=%u sectors=%u sector_size=%u offset=%llu kind=%s\n", t->number,
                 t->audio ? "audio" : "data", t->start_lba, t->sectors, t->sector_size,
                 (unsigned long long)t->file_offset, track_kind_name(t->kind));
        out += line;
    }
    return out;
}

// Nero images of the test volume made by tests/tools/make_nrg.py, with the table it wrote beside each.
TEST(nrg_open, images_of_the_test_volume) {
    struct {
        const char *name;
        uint32_t sector_size, data_offset;
        int tracks;
    } cases[] = {
        {"nrg-x2048", 2048, 0, 3},
        {"nrg-x-m1", 2352, 16, 2},
        {"nrg-i-m2", 2352, 24, 3},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = testdata(c.name) + ".nrg";
        std::string expected = slurp(testdata(c.name) + ".tracks");
        ASSERT_FALSE(expected.empty());
        cd_source *s = cd_open(path.c_str());
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(table_text(s), expected);
        EXPECT_EQ(s->track_count, c.tracks);
        EXPECT_STREQ(cd_describe(s), ("Nero image " + path + " (" + std::to_string(c.tracks) + " tracks)").c_str());
        EXPECT_EQ(s->is_image, 1);
        EXPECT_STREQ(s->root, path.c_str());
        EXPECT_EQ(s->sector_size, c.sector_size);
        EXPECT_EQ(s->data_offset, c.data_offset);
        EXPECT_EQ(s->base_offset, s->tracks[0].file_offset);
        for (int k = 0; k < s->track_count; k++) EXPECT_STREQ(s->tracks[k].file, path.c_str());
        uint64_t size = 0;
        char *b = (char *)cd_read(s, "README.TXT", &size);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(std::string(b, size), "game data\r\n");
        free(b);
        EXPECT_EQ(cd_exists(s, "DATA\\SUB\\FILE.TXT"), 1);
        track_info t[MAX_TRACKS];
        ASSERT_EQ(cd_tracks(s, t, MAX_TRACKS), c.tracks);
        EXPECT_EQ(t[c.tracks - 1].start_lba, s->tracks[c.tracks - 1].start_lba);
        cd_close(s);
    }
}

// A data track of 17 sectors whose sector 16 holds the head of a volume descriptor (type 1, "CD001")
// at each of the given offsets; the heads do not overlap, so each offset can be found.
static std::string data_track(uint32_t size, std::initializer_list<uint32_t> at) {
    std::string t(17 * (size_t)size, 0);
    for (uint32_t off : at) t.replace(16 * (size_t)size + off, 6, "\x01" "CD001");
    return t;
}

// One data track after a 150-sector pregap, probed at the layouts its sector size allows.
TEST(nrg_open, probe_layouts) {
    struct {
        const char *name;
        uint32_t size;
        std::initializer_list<uint32_t> at;
        int data_offset;  // -1: refused
    } cases[] = {
        {"2048_at_0", 2048, {0}, 0},
        {"2048_never_at_16", 2048, {16}, -1},
        {"2048_never_at_24", 2048, {24}, -1},
        {"2352_at_0", 2352, {0}, 0},
        {"2352_at_16", 2352, {16}, 16},
        {"2352_at_24", 2352, {24}, 24},
        {"2352_0_first", 2352, {0, 16, 24}, 0},
        {"2352_16_before_24", 2352, {24, 16}, 16},
        {"2352_at_8_not_tried", 2352, {8}, -1},
        {"2336_at_0", 2336, {0}, 0},
        {"2336_never_at_8", 2336, {8}, -1},
    };
    std::string dir = temp_dir("nrgprobe");
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string pre(150 * (size_t)c.size, 0), track = data_track(c.size, c.at);
        std::string body = "lead" + pre + track;
        std::string area = dao(8, 1, {entry(8, (uint16_t)c.size, 0, 4, 4 + pre.size(), body.size())}) + k_end;
        std::string path = dir + "\\" + c.name + ".nrg";
        spit(path, image(body, area));
        cd_source *s = cd_open(path.c_str());
        if (c.data_offset < 0) {
            EXPECT_EQ(s, nullptr);
        } else {
            ASSERT_NE(s, nullptr);
            EXPECT_EQ(s->sector_size, c.size);
            EXPECT_EQ(s->data_offset, (uint32_t)c.data_offset);
            EXPECT_EQ(s->base_offset, 4 + pre.size());
            EXPECT_EQ(s->tracks[0].start_lba, 0u);
        }
        cd_close(s);
        EXPECT_TRUE(closed(path));
    }
}

// A valid image of exactly n bytes whose chunk list begins at byte 0: the track data sit inside a
// chunk that the walk skips, and zeros pad the file after "END!".
static std::string whole_file_area(const std::string &body, size_t n) {
    std::string s = chunk_len("FILL", (uint32_t)body.size(), "") + body +
                    dao(8, 1, {entry(8, 2048, 0, 8, 8 + 150 * 2048, 8 + body.size())}) + k_end;
    s.resize(n - NRG_FOOTER, 0);
    return s + "NER5" + be(0, 8);
}

static std::string with_tail(std::string s, size_t from_end, const std::string &bytes) {
    return s.replace(s.size() - from_end, bytes.size(), bytes);
}

// Refused images give null and leave the file closed.
TEST(nrg_open, refusals) {
    std::string dir = temp_dir("nrgbad");
    std::string volume = iso_builder().bytes();  // a volume descriptor at sector 16 of 2048-byte sectors
    uint64_t pre = 150 * 2048;
    std::string body = std::string(pre, 0) + volume;
    std::string data = entry(8, 2048, 0, 0, pre, body.size()), audio = entry(8, 2048, 7, 0, pre, body.size());
    std::string good = image(body, dao(8, 1, {data}) + k_end);
    std::string good_v1 = image(body, dao(4, 1, {entry(4, 2048, 0, 0, pre, body.size())}) + k_end, 1);
    struct {
        const char *name;
        std::string bytes;
    } cases[] = {
        {"first_track_audio", image(body, dao(8, 1, {audio, data}) + k_end)},
        {"plain_iso", volume},
        {"plain_raw_iso", data_track(R, {16})},
        {"wrong_footer", with_tail(good, 12, "NER6")},
        {"v1_wrong_footer", with_tail(good_v1, 8, "NEOR")},
        {"offset_at_size", body + "NER5" + be(body.size() + 12, 8)},
        {"offset_past_end", body + "abcdNERO" + be(0x7FFFFFFF, 4)},
        {"file_of_11_bytes", "NERO" + be(0, 4) + "abc"},
        {"file_of_12_bytes", "NER5" + be(0, 8)},
        {"empty_file", ""},
        {"no_dao_chunk", image(body, chunk("SINF", be(1, 4)) + k_end)},
        {"only_blank_entries", image(body, dao(8, 1, {entry(8, 0, 0, 0, pre, body.size())}) + k_end)},
        {"dao_too_short", image(body, chunk("DAOX", dao(8, 1, {data}).substr(8, 63)) + k_end)},
        {"data_track_past_the_end",
         image(body, dao(8, 1, {entry(8, 2048, 0, 0, body.size() + 100, body.size() + 9000)}) + k_end)},
        {"no_volume_at_index_1", image(body, dao(8, 1, {entry(8, 2048, 0, 0, pre + 2048, body.size())}) + k_end)},
        // Valid but for its size: the chunk area (the whole file) is one byte over the cap.
        {"area_over_the_cap", whole_file_area(body, NRG_AREA_MAX + 1)},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir + "\\" + c.name + ".nrg";
        spit(path, c.bytes);
        EXPECT_EQ(cd_open(path.c_str()), nullptr);
        EXPECT_TRUE(closed(path));
    }
    // The same images open when nothing is wrong, the area of exactly the cap included.
    struct {
        const char *name;
        std::string bytes;
    } fine[] = {{"good", good}, {"good_v1", good_v1}, {"area_at_the_cap", whole_file_area(body, NRG_AREA_MAX)}};
    for (auto &c : fine) {
        SCOPED_TRACE(c.name);
        std::string path = dir + "\\" + c.name + ".nrg";
        spit(path, c.bytes);
        cd_source *s = cd_open(path.c_str());
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->track_count, 1);
        cd_close(s);
        EXPECT_TRUE(closed(path));
    }
}

// Real images made by other tools: both begin with a track that is no ISO 9660 data track.
TEST(nrg_open, real_images_are_walked_and_refused) {
    std::string dir = temp_dir("nrgreal");
    for (const char *name : {"p1.nrg", "videocd.nrg"}) {
        SCOPED_TRACE(name);
        std::string path = dir + "\\" + name;
        ASSERT_TRUE(CopyFileA(fixture((std::string("disc\\libcdio\\") + name).c_str()).c_str(), path.c_str(), FALSE));
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(cd_open(path.c_str()), nullptr);
        EXPECT_TRUE(closed(path));
    }
    // p1.nrg's DAOX chunk: two audio tracks, 300 and 75 sectors of pregap (as other readers list them).
    std::string p1 = slurp(fixture("disc\\libcdio\\p1.nrg"));
    ASSERT_EQ(p1.size(), 1063470u);
    std::string area = p1.substr(1063104);
    EXPECT_EQ(show(walk(area)), "1 1 start=150 sectors=75 offset=705600 size=2352\n"
                                "2 1 start=300 sectors=2 offset=1058400 size=2352\n");
    std::string vcd = slurp(fixture("disc\\libcdio\\videocd.nrg"));
    EXPECT_EQ(walk(vcd.substr(2630336)).size(), 0u);
}
