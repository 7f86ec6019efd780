#include <gtest/gtest.h>

#include <stdlib.h>

#include "install/game_install.h"
#include "util/bytes.h"
#include "support.h"

// A source with a hand-made track table over one BIN file, as a cue sheet would give it.
struct table_source {
    cd_source *s;
    std::string bin;
    table_source(const std::string &bin_path) : bin(bin_path) {
        s = cd_new();
    }
    ~table_source() { cd_close(s); }
    void add(int number, int audio, uint32_t start, uint32_t sectors, uint32_t sector_size = 2352,
             const std::string &file = "") {
        cd_track *t = &s->tracks[s->track_count++];
        t->number = number;
        t->audio = audio;
        t->start_lba = start;
        t->sectors = sectors;
        t->sector_size = sector_size;
        t->file_offset = (uint64_t)start * sector_size;
        snprintf(t->file, sizeof t->file, "%s", (file.empty() ? bin : file).c_str());
    }
};

static std::string sectors_of(uint32_t first, uint32_t count) {
    std::string s((size_t)count * 2352, 0);
    for (size_t i = 0; i < s.size(); i++) s[i] = (char)((first * 2352 + i) * 31 / 7);
    return s;
}

static std::vector<uint64_t> reports;
static void on_report(uint64_t done, uint64_t, void *) { reports.push_back(done); }

TEST(game_install_audio, wav_files_track_list_and_progress) {
    std::string dir = temp_dir("audio");
    std::string bin = dir + "\\disc.bin";
    spit(bin, sectors_of(0, 300));
    table_source src(bin);
    src.add(1, 0, 0, 100);    // data
    src.add(2, 1, 100, 76);   // 75 + 1 sectors
    src.add(3, 1, 176, 0);    // empty, but its file exists
    src.add(5, 1, 200, 100);  // numbered 5: the name follows the number
    src.add(4, 0, 176, 300);  // the largest end is not the last entry's
    std::string game = dir + "\\game";
    reports.clear();
    progress p = {0, game_audio_bytes(src.s), on_report, NULL};
    log_capture log;
    ASSERT_EQ(game_install_audio(src.s, game.c_str(), &p), 1);

    EXPECT_EQ(reports, (std::vector<uint64_t>{75 * 2352, 76 * 2352, 151 * 2352, 176 * 2352}));
    uint64_t written = 0;
    for (auto [name, first, count] : {std::tuple<const char *, uint32_t, uint32_t>{"track02.wav", 100, 76},
                                      {"track03.wav", 176, 0}, {"track05.wav", 200, 100}}) {
        SCOPED_TRACE(name);
        std::string wav = slurp(game + "\\cdaudio\\" + name);
        ASSERT_EQ(wav.size(), 44 + (size_t)count * 2352);
        const uint8_t *h = (const uint8_t *)wav.data();
        EXPECT_EQ(wav.substr(0, 4), "RIFF");
        EXPECT_EQ(le32(h + 4), count * 2352 + 36);
        EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
        EXPECT_EQ(le32(h + 16), 16u);
        EXPECT_EQ(le16(h + 20), 1);
        EXPECT_EQ(le16(h + 22), 2);
        EXPECT_EQ(le32(h + 24), 44100u);
        EXPECT_EQ(le32(h + 28), 176400u);
        EXPECT_EQ(le16(h + 32), 4);
        EXPECT_EQ(le16(h + 34), 16);
        EXPECT_EQ(wav.substr(36, 4), "data");
        EXPECT_EQ(le32(h + 40), count * 2352);
        EXPECT_TRUE(wav.substr(44) == sectors_of(first, count));
        written += wav.size();
    }
    EXPECT_EQ(game_audio_bytes(src.s), written);
    EXPECT_EQ(p.done, written - 3 * 44);
    EXPECT_EQ(slurp(game + "\\cdaudio\\toc.txt"),
              "# track start_lba sectors (track 1 = data)\r\n"
              "1 0 100\r\n2 100 76\r\n3 176 0\r\n5 200 100\r\n4 176 300\r\n"
              "leadout 476\r\n");
    EXPECT_EQ(log.text(), "CD music: 3 tracks\n");
}

TEST(game_install_audio, sources_without_audio_tracks_write_nothing) {
    const char *notice =
        "No CD audio tracks in this source - the game's music needs a form of the CD that keeps them: a CD in a "
        "CD-ROM drive, a cue sheet (.cue), a Nero image (.nrg), a CloneCD image (.ccd), an Alcohol image (.mds) or a "
        "CHD image (.chd).\n";
    std::string dir = temp_dir("noaudio");
    table_source data_only(dir + "\\disc.bin");
    data_only.add(1, 0, 0, 10);
    cd_source *folder = cd_open(dir.c_str());
    for (cd_source *s : {data_only.s, folder}) {
        log_capture log;
        EXPECT_EQ(game_install_audio(s, (dir + "\\game").c_str(), NULL), 1);
        EXPECT_EQ(log.text(), notice);
        EXPECT_EQ(game_audio_bytes(s), 0u);
    }
    EXPECT_FALSE(exists(dir + "\\game"));
    cd_close(folder);
}

TEST(game_install_audio, unreadable_tracks_fail_and_keep_what_was_written) {
    std::string dir = temp_dir("badaudio");
    std::string bin = dir + "\\disc.bin";
    spit(bin, sectors_of(0, 150));
    struct {
        const char *why;
        int audio_number;
        uint32_t start, sectors, sector_size;
        std::string file;
        const char *line;
        long wav_size;  // -1: no file
    } cases[] = {
        {"the BIN is short", 2, 60, 100, 2352, "", "ERROR: reading audio track 2 failed", 44 + 75 * 2352},
        {"the BIN is missing", 3, 0, 0, 2352, dir + "\\gone.bin", "ERROR: reading audio track 3 failed", -1},
        {"2048-byte audio sectors", 4, 0, 10, 2048, "", "ERROR: reading audio track 4 failed", 44},
        {"too long for a WAV header", 6, 0, WAV_MAX_SECTORS + 1, 2352, "", "ERROR: reading audio track 6 failed", -1},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.why);
        table_source src(bin);
        src.add(1, 0, 0, 100);
        src.add(c.audio_number, 1, c.start, c.sectors, c.sector_size, c.file);
        src.add(9, 1, 0, 1);  // never reached
        std::string game = temp_dir("badgame");
        log_capture log;
        EXPECT_EQ(game_install_audio(src.s, game.c_str(), NULL), 0);
        EXPECT_EQ(log.text(), std::string(c.line) + "\n");
        char name[32];
        snprintf(name, sizeof name, "\\cdaudio\\track%02d.wav", c.audio_number);
        EXPECT_EQ((long)slurp(game + name).size(), c.wav_size < 0 ? 0 : c.wav_size);
        EXPECT_EQ(exists(game + name), c.wav_size >= 0);
        EXPECT_FALSE(exists(game + "\\cdaudio\\track09.wav"));
        EXPECT_FALSE(exists(game + "\\cdaudio\\toc.txt"));
    }
}
