// The track tables of the disc copiers' descriptors: CloneCD control files (.ccd) and Alcohol media
// descriptors (.mds), made by tests/tools/make_copier_images.py from the game CD and damaged one
// field at a time; and the data files their readers find beside them.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "cdsrc/ccd.h"
#include "cdsrc/descriptors.h"
#include "cdsrc/mds.h"
#include "support.h"

static std::string track_line(const cd_track &t) {
    char line[200];
    snprintf(line, sizeof line, "%d %s start=%u sectors=%u size=%u offset=%llu", t.number, t.audio ? "audio" : "data",
             t.start_lba, t.sectors, t.sector_size, (unsigned long long)t.file_offset);
    return line;
}

static std::vector<std::string> ccd_table(const std::string &text, uint64_t img_size) {
    cd_track tracks[MAX_TRACKS];
    int n = ccd_parse(text.data(), text.size(), img_size, tracks);
    std::vector<std::string> out;
    for (int i = 0; i < n; i++) out.push_back(track_line(tracks[i]));
    return out;
}

// A control file of three entries; fields filled from a row.
static std::string ccd(const char *point1, const char *plba1, const char *point2, const char *plba2, const char *control2,
                       const char *leadout) {
    char t[1200];
    snprintf(t, sizeof t,
             "[CloneCD]\r\nVersion=3\r\n[Entry 0]\r\nPoint=0xa2\r\nADR=0x01\r\nControl=0x00\r\nPLBA=%s\r\n"
             "[Entry 1]\r\nPoint=%s\r\nADR=0x01\r\nControl=0x04\r\nPLBA=%s\r\n"
             "[Entry 2]\r\npoint=%s\r\nadr=1\r\nplba=%s\r\ncontrol=%s\r\n[TRACK 1]\r\nMODE=1\r\nINDEX 1=0\r\n",
             leadout, point1, plba1, point2, plba2, control2);
    return t;
}

TEST(ccd_parse, track_table) {
    const uint64_t img = 1000ull * RAW_SECTOR;
    struct {
        const char *name;
        std::string text;
        uint64_t img_size;
        std::vector<std::string> want;
    } cases[] = {
        {"data_then_audio", ccd("0x01", "0", "0x02", "600", "0x00", "900"), img,
         {"1 data start=0 sectors=600 size=2352 offset=0", "2 audio start=600 sectors=300 size=2352 offset=1411200"}},
        {"no_leadout_runs_to_the_image_end", ccd("1", "0", "2", "600", "0", "-5"), img,
         {"1 data start=0 sectors=600 size=2352 offset=0", "2 audio start=600 sectors=400 size=2352 offset=1411200"}},
        {"leadout_past_the_image_is_cut", ccd("1", "0", "2", "600", "0", "5000"), img,
         {"1 data start=0 sectors=600 size=2352 offset=0", "2 audio start=600 sectors=400 size=2352 offset=1411200"}},
        {"second_data_track", ccd("1", "0", "2", "600", "0x04", "900"), img,
         {"1 data start=0 sectors=600 size=2352 offset=0", "2 data start=600 sectors=300 size=2352 offset=1411200"}},
        {"points_sorted", ccd("0x02", "600", "0x01", "0", "0x04", "900"), img,
         {"1 data start=0 sectors=600 size=2352 offset=0", "2 data start=600 sectors=300 size=2352 offset=1411200"}},
        {"starts_out_of_order_refused", ccd("1", "600", "2", "0", "0", "900"), img, {}},
        {"same_start_refused", ccd("1", "0", "2", "0", "0", "900"), img, {}},
        {"start_past_the_image_refused", ccd("1", "0", "2", "1001", "0", "900"), img, {}},
        {"negative_start_refused", ccd("1", "-150", "2", "600", "0", "900"), img, {}},
        {"point_100_is_no_track", ccd("1", "0", "100", "600", "0", "900"), img, {"1 data start=0 sectors=900 size=2352 offset=0"}},
        {"huge_numbers_saturate", ccd("1", "0", "2", "99999999999999999999", "0", "900"), img, {}},
        {"no_entries", std::string("[CloneCD]\r\nVersion=3\r\n"), img, {}},
        {"not_text", std::string("\x00\x01\x02[Entry 0]\nPoint=1\nPLBA=0\n", 25), img, {}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ccd_table(c.text, c.img_size), c.want);
    }
}

TEST(ccd_parse, generated_game_cd) {
    std::string text = slurp(testdata("gamecd\\gamecd.ccd"));
    uint64_t img = slurp(testdata("gamecd\\gamecd.img")).size();
    ASSERT_FALSE(text.empty());
    std::vector<std::string> got = ccd_table(text, img);
    ASSERT_EQ(got.size(), 3u);
    uint32_t data = (uint32_t)(img / RAW_SECTOR) - 264;  // the audio tracks: 150 and 114 sectors
    EXPECT_EQ(got[0], "1 data start=0 sectors=" + std::to_string(data) + " size=2352 offset=0");
    EXPECT_EQ(got[1], "2 audio start=" + std::to_string(data) + " sectors=150 size=2352 offset=" +
                          std::to_string((uint64_t)data * RAW_SECTOR));
    EXPECT_EQ(got[2], "3 audio start=" + std::to_string(data + 150) + " sectors=114 size=2352 offset=" +
                          std::to_string((uint64_t)(data + 150) * RAW_SECTOR));
}

static std::vector<std::string> mds_table(const std::string &bytes, std::string *name) {
    cd_track tracks[MAX_TRACKS];
    char data_name[PATH_TEXT];
    int n = mds_parse((const uint8_t *)bytes.data(), bytes.size(), tracks, data_name);
    *name = data_name;
    std::vector<std::string> out;
    for (int i = 0; i < n; i++) out.push_back(track_line(tracks[i]));
    return out;
}

static void put32(std::string *s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) (*s)[at + i] = (char)(v >> (8 * i));
}

TEST(mds_parse, generated_sector_sizes) {
    std::string sub = slurp(testdata("gamecd\\gamecd-sub.mds"));
    std::string plain = slurp(testdata("gamecd\\gamecd-mds.mds"));
    std::string cooked = slurp(testdata("gamecd\\gamecd-2048.mds"));
    ASSERT_FALSE(sub.empty() || plain.empty() || cooked.empty());
    uint32_t data = (uint32_t)(slurp(testdata("gamecd\\gamecd.bin")).size() / RAW_SECTOR) - 264;
    auto row = [](int n, const char *kind, uint32_t start, uint32_t sectors, uint32_t size, uint64_t offset) {
        return std::to_string(n) + " " + kind + " start=" + std::to_string(start) + " sectors=" +
               std::to_string(sectors) + " size=" + std::to_string(size) + " offset=" + std::to_string(offset);
    };
    struct {
        const char *name;
        const std::string &bytes;
        std::vector<std::string> want;
    } cases[] = {
        {"2352", plain,
         {row(1, "data", 0, data, 2352, 0), row(2, "audio", data, 150, 2352, (uint64_t)data * 2352),
          row(3, "audio", data + 150, 114, 2352, (uint64_t)(data + 150) * 2352)}},
        {"2448 with subchannel", sub,
         {row(1, "data", 0, data, 2448, 0), row(2, "audio", data, 150, 2448, (uint64_t)data * 2448),
          row(3, "audio", data + 150, 114, 2448, (uint64_t)(data + 150) * 2448)}},
        {"2048 data, 2352 audio", cooked,
         {row(1, "data", 0, data, 2048, 0), row(2, "audio", data, 150, 2352, (uint64_t)data * 2048),
          row(3, "audio", data + 150, 114, 2352, (uint64_t)data * 2048 + 150 * 2352)}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string name;
        EXPECT_EQ(mds_table(c.bytes, &name), c.want);
        EXPECT_EQ(name, "*.mdf");
    }
}

// One field of the generated descriptor changed; each is refused, none read outside the bytes.
TEST(mds_parse, damaged_descriptors_are_refused) {
    const std::string good = slurp(testdata("gamecd\\gamecd-mds.mds"));
    ASSERT_GE(good.size(), 300u);
    const size_t session = 88, blocks = session + 24, track1 = blocks + 3 * 80;
    struct {
        const char *name;
        size_t at;  // where a 32-bit value goes, or the length to cut to
        uint32_t value;
        bool cut;
    } cases[] = {
        {"signature", 0, 0x4944454D ^ 1, false},
        {"truncated_header", 60, 0, true},
        {"truncated_in_the_blocks", track1 + 40, 0, true},
        {"truncated_name", good.size() - 3, 0, true},
        {"session_offset_past_the_end", 80, 0xFFFFFFF0, false},
        {"block_offset_past_the_end", session + 20, (uint32_t)good.size() - 79, false},
        {"extra_offset_past_the_end", track1 + 12, (uint32_t)good.size() - 4, false},
        {"footer_offset_past_the_end", track1 + 52, 0xFFFFFFFF, false},
        {"sector_size_2336", track1 + 16, 2336 | (0u << 16), false},
        {"mode_2_form_2", track1 + 0, 0xAD | (0 << 8) | (0x14 << 16) | (0 << 24), false},
        {"second_track_before_the_first", track1 + 80 + 36, 0, false},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string bad = good;
        if (c.cut) {
            bad.resize(c.at);
        } else if (!strcmp(c.name, "sector_size_2336")) {
            bad[c.at] = (char)(2336 & 255);
            bad[c.at + 1] = (char)(2336 >> 8);
        } else if (!strcmp(c.name, "mode_2_form_2")) {
            bad[c.at] = (char)0xAD;
        } else {
            put32(&bad, c.at, c.value);
        }
        std::string name;
        EXPECT_EQ(mds_table(bad, &name), std::vector<std::string>{});
    }
    // A count of blocks larger than the descriptor holds.
    std::string many = good;
    many[session + 10] = (char)255;
    std::string name;
    EXPECT_EQ(mds_table(many, &name), std::vector<std::string>{});
}

// The data file beside a descriptor, as the readers find it on disk: the CloneCD .img, or the .bin
// some tools write instead; the Alcohol .mdf, whose length every track must start within.
TEST(descriptor_files, data_file_beside_the_descriptor) {
    const std::string ccd = slurp(testdata("gamecd\\gamecd.ccd")), img = slurp(testdata("gamecd\\gamecd.img"));
    const std::string mds = slurp(testdata("gamecd\\gamecd-mds.mds"));
    const uint64_t bin_size = slurp(testdata("gamecd\\gamecd.bin")).size();
    ASSERT_FALSE(ccd.empty() || img.empty() || mds.empty());
    ASSERT_EQ(bin_size % RAW_SECTOR, 0u);
    const uint64_t track3 = bin_size - 114ull * RAW_SECTOR;  // the last audio track's offset in the .mdf
    struct {
        const char *name;
        const char *descriptor;                // file name in the case's folder
        std::vector<std::pair<const char *, uint64_t>> beside;  // data files and their lengths
        int tracks;
        const char *data_file;                 // the one chosen, or the one the log names as missing
    } cases[] = {
        {"ccd_img", "disc.ccd", {{"disc.img", 0}}, 3, "disc.img"},
        {"ccd_bin_when_no_img", "disc.ccd", {{"disc.bin", 0}}, 3, "disc.bin"},
        {"ccd_img_before_bin", "disc.ccd", {{"disc.img", 0}, {"disc.bin", 0}}, 3, "disc.img"},
        {"ccd_neither", "disc.ccd", {}, 0, "disc.img"},
        {"mds_whole", "disc.mds", {{"disc.mdf", bin_size}}, 3, "disc.mdf"},
        {"mds_last_track_starts_inside", "disc.mds", {{"disc.mdf", track3 + 1}}, 3, "disc.mdf"},
        {"mds_last_track_starts_at_the_end", "disc.mds", {{"disc.mdf", track3}}, 0, nullptr},
        {"mds_no_mdf", "disc.mds", {}, 0, "disc.mdf"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string dir = temp_dir(c.name), path = dir + "\\" + c.descriptor;
        bool is_ccd = strstr(c.descriptor, ".ccd") != nullptr;
        spit(path, is_ccd ? ccd : mds);
        for (auto &f : c.beside) {
            std::string bytes = f.second ? std::string((size_t)f.second, '\0') : img;
            spit(dir + "\\" + f.first, bytes);
        }
        log_capture log;
        cd_track tracks[MAX_TRACKS];
        char data_file[PATH_TEXT];
        int n = is_ccd ? ccd_read(path.c_str(), tracks, data_file) : mds_read(path.c_str(), tracks, data_file);
        EXPECT_EQ(n, c.tracks);
        std::string named = c.data_file ? dir + "\\" + c.data_file : "";
        if (c.tracks) {
            EXPECT_EQ(std::string(data_file), named);
            for (int i = 0; i < n; i++) EXPECT_EQ(std::string(tracks[i].file), named);
        } else if (c.data_file) {
            EXPECT_NE(log.text().find("cannot read " + named), std::string::npos) << log.text();
        }
    }
}
