// The CHD reader on the CHDs chdman made (make-testdata.sh, chd/): the sectors against the BIN
// that chdman extracts, the one-hunk cache, the older track lists, and damage one field at a time.
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cdsrc/chd_cd.h"
#include "support.h"

namespace {

// A CHD in memory that counts the reads made of it.
struct mem_chd {
    std::string bytes;
    int reads = 0;
    chd_cd *cd = NULL;
    char why[160] = "";
    ~mem_chd() { chd_cd_close(cd); }
    int open() {
        chd_io io = {read, this, bytes.size()};
        return chd_cd_open(&io, &cd, why, sizeof why);
    }
    static int read(void *ctx, uint64_t pos, void *buf, uint32_t len) {
        mem_chd *m = (mem_chd *)ctx;
        m->reads++;
        if (pos > m->bytes.size() || len > m->bytes.size() - pos) return 0;
        memcpy(buf, m->bytes.data() + pos, len);
        return 1;
    }
};

uint32_t be32_of(const std::string &s, size_t at) {
    return (uint32_t)(uint8_t)s[at] << 24 | (uint32_t)(uint8_t)s[at + 1] << 16 | (uint32_t)(uint8_t)s[at + 2] << 8 |
           (uint8_t)s[at + 3];
}
uint64_t be64_of(const std::string &s, size_t at) { return (uint64_t)be32_of(s, at) << 32 | be32_of(s, at + 4); }
void put_be(std::string &s, size_t at, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; i++) s[at + i] = (char)(v >> (8 * (bytes - 1 - i)));
}

std::string chd_path(const std::string &name) { return testdata(("chd\\" + name).c_str()); }

}  // namespace

// Every sector as chdman extracts it: sync and parity made again, audio little-endian, the
// tracks without their padding; a CD of 2048-byte sectors keeps them at the start of each.
TEST(chd, sectors_are_chdmans) {
    const char *cds[] = {"onebin", "pertrack", "iso"};
    const char *codecs[] = {"cdzl", "cdlz", "cdfl", "default", "none", "cdzs", "plain", "huff", "zstd"};
    for (const char *cd : cds) {
        const std::string bin = slurp(chd_path(std::string(cd) + "-cdzl-x.bin"));
        uint32_t size = strcmp(cd, "iso") == 0 ? ISO_SECTOR : RAW_SECTOR;
        for (const char *codec : codecs) {
            SCOPED_TRACE(std::string(cd) + " " + codec);
            mem_chd m;
            m.bytes = slurp(chd_path(std::string(cd) + "-" + codec + ".chd"));
            ASSERT_TRUE(m.open()) << m.why;
            ASSERT_EQ(chd_cd_bytes(m.cd), (uint64_t)bin.size() / size * RAW_SECTOR);
            std::vector<uint8_t> sector(RAW_SECTOR);
            for (size_t n = 0; n < bin.size() / size; n++) {
                ASSERT_TRUE(chd_cd_read(m.cd, (uint64_t)n * RAW_SECTOR, sector.data(), RAW_SECTOR));
                ASSERT_EQ(memcmp(sector.data(), bin.data() + n * size, size), 0) << "sector " << n;
            }
        }
    }
}

// The ISO walk reads a sector at a time: each hunk is read from the file once, not once a sector.
TEST(chd, a_hunk_is_read_once_for_its_sectors) {
    mem_chd m;
    m.bytes = slurp(chd_path("onebin-cdlz.chd"));
    ASSERT_TRUE(m.open()) << m.why;
    const uint32_t sectors = 8 * 40;  // 40 hunks of 8 frames
    m.reads = 0;
    uint8_t data[ISO_SECTOR];
    for (uint32_t n = 0; n < sectors; n++) ASSERT_TRUE(chd_cd_read(m.cd, (uint64_t)n * RAW_SECTOR + 16, data, sizeof data));
    EXPECT_EQ(m.reads, 40);
}

// The track lists of older CHDs: CHTR does not say that a pregap is stored, CHCD is binary.
TEST(chd, older_track_lists) {
    const std::string plain = slurp(chd_path("small-cdzl.chd"));
    uint64_t meta = be64_of(plain, 48);
    ASSERT_EQ(plain.substr(meta, 4), "CHT2");
    // The first entry's text, for the frames of both tracks.
    uint32_t len = be32_of(plain, meta + 4) & 0xFFFFFF;
    std::string text = plain.substr(meta + 16, len);
    uint32_t data_frames = (uint32_t)atoi(text.c_str() + text.find("FRAMES:") + 7);
    uint64_t second = be64_of(plain, meta + 8);
    std::string text2 = plain.substr(second + 16, be32_of(plain, second + 4) & 0xFFFFFF);
    ASSERT_NE(text2.find("PGTYPE:VAUDIO"), std::string::npos) << text2;
    uint32_t audio_frames = (uint32_t)atoi(text2.c_str() + text2.find("FRAMES:") + 7);

    mem_chd cht2;
    cht2.bytes = plain;
    ASSERT_TRUE(cht2.open()) << cht2.why;
    cd_track t[MAX_TRACKS];
    ASSERT_EQ(chd_cd_tracks(cht2.cd, t), 2);
    EXPECT_EQ(t[1].start_lba, data_frames + 3);  // after the stored pregap of 3 frames
    EXPECT_EQ(t[1].sectors, audio_frames - 3);

    mem_chd chtr;
    chtr.bytes = plain;
    put_be(chtr.bytes, meta, 0x43485452, 4);  // "CHTR"
    put_be(chtr.bytes, second, 0x43485452, 4);
    ASSERT_TRUE(chtr.open()) << chtr.why;
    ASSERT_EQ(chd_cd_tracks(chtr.cd, t), 2);
    EXPECT_EQ(t[1].start_lba, data_frames);
    EXPECT_EQ(t[1].sectors, audio_frames);

    // One binary entry in place of the first text one, ending the list.
    mem_chd chcd;
    chcd.bytes = plain;
    std::string e(16 + 52, '\0');
    e.replace(0, 4, "CHCD");
    put_be(e, 4, 52, 4);
    put_be(e, 16, 2, 4);
    const uint32_t rows[2][6] = {{1, 0, RAW_SECTOR, 96, data_frames, (4 - data_frames % 4) % 4},
                                 {7, 0, RAW_SECTOR, 96, audio_frames, (4 - audio_frames % 4) % 4}};
    for (int r = 0; r < 2; r++)
        for (int k = 0; k < 6; k++) put_be(e, 20 + 24 * r + 4 * k, rows[r][k], 4);
    ASSERT_LE(e.size(), 16 + len);
    chcd.bytes.replace(meta, e.size(), e);
    ASSERT_TRUE(chcd.open()) << chcd.why;
    ASSERT_EQ(chd_cd_tracks(chcd.cd, t), 2);
    EXPECT_EQ(t[0].audio, 0);
    EXPECT_EQ(t[1].audio, 1);
    EXPECT_EQ(t[1].start_lba, data_frames);
    EXPECT_EQ(t[1].sectors, audio_frames);
}

// One field of a good CHD changed: refused with the reason, or the hunk refused when read.
TEST(chd, damage_is_named) {
    const std::string good = slurp(chd_path("small-cdzl.chd"));
    const uint64_t map = be64_of(good, 40), meta = be64_of(good, 48);
    const uint64_t first_hunk = be64_of(good, map + 4) >> 16;
    const std::string text = good.substr(meta + 16, be32_of(good, meta + 4) & 0xFFFFFF);
    const size_t frames = meta + 16 + text.find("FRAMES:") + 7;
    struct damage_case {
        const char *name;
        size_t at;
        uint64_t value;
        int bytes;
        const char *why;  // null: opens, and the first hunk cannot be read
    } cases[] = {
        {"version_4", 12, 4, 4, "version 4: only version 5"},
        {"unknown_codec", 16, 0x61626364, 4, "\"abcd\", which this setup does not read"},
        {"parent", 104, 1, 1, "needs its parent CHD"},
        {"hunk_bytes_0", 56, 0, 4, "header is not one"},
        {"units_not_frames", 60, 1224, 4, "units are not CD frames"},
        {"map_crc", map + 10, (be32_of(good, map + 8) & 0xFFFF) ^ 1, 2, "map is not one"},
        {"map_past_end", map + 4, good.size(), 6, "points past the end of the file"},
        {"map_stream_cut", map, 3, 4, "map is not one"},
        {"map_offset", 40, good.size(), 8, "map lies past the end"},
        {"no_metadata", 48, 0, 8, "holds no CD"},
        {"track_list_out_of_order", meta, 0x58585858, 4, "track list is not one"},
        {"frames_past_data", frames, '9', 1, "run past its data"},
        {"hunk_byte", first_hunk + 5, (uint8_t)good[first_hunk + 5] ^ 0xFFu, 1, NULL},
    };
    for (const damage_case &c : cases) {
        SCOPED_TRACE(c.name);
        mem_chd m;
        m.bytes = good;
        put_be(m.bytes, c.at, c.value, c.bytes);
        if (c.why) {
            EXPECT_FALSE(m.open());
            EXPECT_EQ(m.cd, (chd_cd *)NULL);
            EXPECT_NE(strstr(m.why, c.why), (char *)NULL) << m.why;
            continue;
        }
        ASSERT_TRUE(m.open()) << m.why;
        uint8_t sector[RAW_SECTOR];
        EXPECT_FALSE(chd_cd_read(m.cd, 0, sector, sizeof sector));
        EXPECT_FALSE(chd_cd_read(m.cd, RAW_SECTOR, sector, sizeof sector));  // never from a cache
        EXPECT_TRUE(chd_cd_read(m.cd, 8 * RAW_SECTOR, sector, sizeof sector));
    }
    mem_chd cut;
    cut.bytes = good.substr(0, good.size() / 2);
    EXPECT_FALSE(cut.open());
    EXPECT_NE(strstr(cut.why, "map lies past the end"), (char *)NULL) << cut.why;
}
