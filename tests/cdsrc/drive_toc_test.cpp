// The track table read from a drive's CDROM_TOC answer: MSF addresses, the data bit, lengths to the
// next track or the lead-out, and answers that are no table of contents.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "cdsrc/drive.h"

// A TOC answer in MSF: entries of {control, number, minute, second, frame}; Length as a driver sets it.
struct toc_entry {
    uint8_t control, number, m, s, f;
};

static std::vector<uint8_t> answer(const std::vector<toc_entry> &entries) {
    std::vector<uint8_t> b(DRIVE_TOC_HEADER + entries.size() * DRIVE_TOC_ENTRY);
    size_t length = b.size() - 2;
    b[0] = (uint8_t)(length >> 8);
    b[1] = (uint8_t)length;
    b[2] = 1;
    b[3] = (uint8_t)(entries.size() - 1);
    for (size_t i = 0; i < entries.size(); i++) {
        uint8_t *e = &b[DRIVE_TOC_HEADER + i * DRIVE_TOC_ENTRY];
        e[1] = (uint8_t)(0x10 | entries[i].control);  // Adr 1 above the Control bits
        e[2] = entries[i].number;
        e[5] = entries[i].m;
        e[6] = entries[i].s;
        e[7] = entries[i].f;
    }
    return b;
}

static std::string table(const uint8_t *toc, uint32_t got) {
    static cd_track tracks[MAX_TRACKS];
    int n = drive_toc_tracks(toc, got, "\\\\.\\E:", tracks);
    std::string out;
    for (int i = 0; i < n; i++)
        out += std::to_string(tracks[i].number) + (tracks[i].audio ? " audio " : " data ") +
               std::to_string(tracks[i].start_lba) + "+" + std::to_string(tracks[i].sectors) + " " +
               std::to_string(tracks[i].sector_size) + " " + tracks[i].file + ";";
    return out;
}

TEST(drive_toc_tracks, msf_addresses_and_answers_that_are_no_table) {
    const toc_entry data1 = {4, 1, 0, 2, 0}, audio2 = {0, 2, 1, 0, 0}, audio3 = {2, 3, 1, 2, 74},
                    leadout = {0, 0xAA, 2, 0, 0};
    std::vector<uint8_t> good = answer({data1, audio2, audio3, leadout});
    const std::string three = "1 data 0+4350 2048 \\\\.\\E:;2 audio 4350+224 2352 \\\\.\\E:;"
                              "3 audio 4574+4276 2352 \\\\.\\E:;";
    std::vector<uint8_t> long_length = good, short_length = good, cut = good;
    long_length[1] += 8;    // Length claims an entry past what was handed back
    short_length[1] -= 8;   // Length ends before the lead-out's entry
    struct {
        const char *name;
        std::vector<uint8_t> toc;
        uint32_t got;
        std::string want;
    } cases[] = {
        // 00:02:00 is LBA 0; the copy-permitted bit (2) leaves a track audio.
        {"data track and two audio tracks", good, (uint32_t)good.size(), three},
        {"Length past the answer: only what came back is read", long_length, (uint32_t)good.size(), three},
        {"Length before the lead-out", short_length, (uint32_t)good.size(), ""},
        {"answer cut before the lead-out", cut, (uint32_t)cut.size() - 1, ""},
        {"only the header", good, DRIVE_TOC_HEADER, ""},
        {"shorter than the header", good, 3, ""},
        {"no lead-out", answer({data1, audio2}), 4 + 16, ""},
        {"only the lead-out (a blank disc)", answer({leadout}), 4 + 8, ""},
        {"addresses that do not rise", answer({data1, {0, 2, 0, 2, 0}, leadout}), 4 + 24, ""},
        {"lead-out before the last track's start", answer({data1, audio2, {0, 0xAA, 0, 30, 0}}), 4 + 24, ""},
        {"track number 0", answer({{4, 0, 0, 2, 0}, leadout}), 4 + 16, ""},
        {"frame 75 is no MSF address", answer({data1, {0, 2, 1, 0, 75}, leadout}), 4 + 24, ""},
        {"an address in the pregap", answer({{4, 1, 0, 1, 74}, leadout}), 4 + 16, ""},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(table(c.toc.data(), c.got), c.want);
    }
}
