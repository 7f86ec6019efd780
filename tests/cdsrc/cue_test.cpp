#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <map>

#include "cdsrc/cdsrc.h"
#include "cdsrc/descriptors.h"
#include "opened.h"
#include "support.h"
#include "util/handles.h"

enum { S = 2352 };

// A track as one line; its kind only when it is not raw.
static std::string track_line(const cd_track &t) {
    char line[800], kind[32] = "";
    if (t.kind != TRACK_RAW) snprintf(kind, sizeof kind, " kind=%s", track_kind_name(t.kind));
    snprintf(line, sizeof line, "%d %s start=%u sectors=%u size=%u offset=%llu%s file=%s", t.number,
             t.audio ? "audio" : "data", t.start_lba, t.sectors, t.sector_size,
             (unsigned long long)t.file_offset, kind, t.file);
    return line;
}

static std::string lower(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    return s;
}

// A file as the reader measures it: its size (an audio file's decoded sectors' bytes) and its kind
// by content.
struct fake_file {
    std::string path;
    uint64_t bytes;
    int kind = TRACK_RAW;
};

// Files by path, looked up without regard to letter case as the file system does.
struct fake_files {
    std::map<std::string, cue_file> files;
    void add(const fake_file &f) { files[lower(f.path)] = {f.kind, f.bytes}; }
};

static int fake_measure(void *user, const char *path, cue_file *out) {
    const fake_files *f = (const fake_files *)user;
    auto it = f->files.find(lower(path));
    if (it == f->files.end()) return 0;
    *out = it->second;
    return 1;
}

struct parsed {
    std::vector<std::string> tracks;
    std::string data_file;
};

static parsed parse(const std::string &sheet, const char *sheet_path, const fake_files &files) {
    static cd_track t[MAX_TRACKS];
    char data[PATH_TEXT];
    int n = cue_parse(sheet.data(), sheet.size(), sheet_path, fake_measure, (void *)&files, t, data);
    parsed p;
    for (int i = 0; i < n; i++) p.tracks.push_back(track_line(t[i]));
    p.data_file = data;
    return p;
}

struct sheet_case {
    const char *name;
    const char *sheet_path;
    std::string sheet;
    std::vector<fake_file> files;
    std::vector<std::string> tracks;
    const char *data_file;
};

static const char *const G = "C:\\cd\\g.cue";  // every case's sheet unless it says otherwise

// One row per rule of the sheet: start LBA, length, sector size, file and offset of each track.
TEST(cue_parse, track_table_rules) {
    const sheet_case cases[] = {
        {"one_bin_index00_pregaps_belong_to_the_track_before", G,
         "FILE \"g.bin\" BINARY\n TRACK 01 MODE1/2352\n  INDEX 01 00:00:00\n"
         " TRACK 02 AUDIO\n  INDEX 00 00:10:00\n  INDEX 01 00:12:00\n"
         " TRACK 03 AUDIO\n  INDEX 00 00:20:00\n  INDEX 01 00:22:00\n",
         {{"C:\\cd\\g.bin", 2000 * S}},
         {"1 data start=0 sectors=900 size=2352 offset=0 file=C:\\cd\\g.bin",
          "2 audio start=900 sectors=750 size=2352 offset=2116800 file=C:\\cd\\g.bin",
          "3 audio start=1650 sectors=350 size=2352 offset=3880800 file=C:\\cd\\g.bin"},
         "C:\\cd\\g.bin"},
        {"one_bin_per_track_base_grows_by_each_file", G,
         "FILE \"a.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
         "FILE \"b.bin\" BINARY\nTRACK 02 AUDIO\nINDEX 00 00:00:00\nINDEX 01 00:02:00\n"
         "FILE \"c.bin\" BINARY\nTRACK 03 AUDIO\nINDEX 01 00:00:00\n",
         {{"C:\\cd\\a.bin", 1000 * S}, {"C:\\cd\\b.bin", 400 * S}, {"C:\\cd\\c.bin", 100 * S + 7}},
         {"1 data start=0 sectors=1000 size=2352 offset=0 file=C:\\cd\\a.bin",
          "2 audio start=1150 sectors=250 size=2352 offset=352800 file=C:\\cd\\b.bin",
          "3 audio start=1400 sectors=100 size=2352 offset=0 file=C:\\cd\\c.bin"},
         "C:\\cd\\a.bin"},
        {"mode1_2048_counts_2048_byte_sectors", G,
         "FILE \"d.iso\" BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:02\n"
         "FILE \"a.bin\" BINARY\nTRACK 02 AUDIO\nINDEX 01 00:02:00\n",
         {{"C:\\cd\\d.iso", 500 * 2048}, {"C:\\cd\\a.bin", 300 * S}},
         {"1 data start=2 sectors=498 size=2048 offset=4096 file=C:\\cd\\d.iso",
          "2 audio start=650 sectors=150 size=2352 offset=352800 file=C:\\cd\\a.bin"},
         "C:\\cd\\d.iso"},
        {"mode2_2336_counts_2336_byte_sectors", G,
         "FILE \"x.bin\" BINARY\nTRACK 01 MODE2/2336\nINDEX 01 00:00:10\n"
         "FILE \"a.bin\" BINARY\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n",
         {{"C:\\cd\\x.bin", 100 * 2336 + 1000}, {"C:\\cd\\a.bin", 300 * S}},
         {"1 data start=10 sectors=90 size=2336 offset=23360 file=C:\\cd\\x.bin",
          "2 audio start=100 sectors=300 size=2352 offset=0 file=C:\\cd\\a.bin"},
         "C:\\cd\\x.bin"},
        {"mode2_2352_is_raw_data", G, "FILE \"m.bin\" BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n",
         {{"C:\\cd\\m.bin", 50 * S}},
         {"1 data start=0 sectors=50 size=2352 offset=0 file=C:\\cd\\m.bin"},
         "C:\\cd\\m.bin"},
        {"crlf_line_ends_and_empty_lines", G,
         "FILE \"g.bin\" BINARY\r\n\r\nTRACK 01 AUDIO\r\n\r\n\r\nINDEX 01 00:00:05\r\n",
         {{"C:\\cd\\g.bin", 2000 * S}},
         {"1 audio start=5 sectors=1995 size=2352 offset=11760 file=C:\\cd\\g.bin"},
         "C:\\cd\\g.bin"},
        {"leading_blanks_and_tabs", G,
         " \t FILE \"g.bin\" BINARY\n\t\t TRACK 01 AUDIO\n \t INDEX 01 00:00:05\n",
         {{"C:\\cd\\g.bin", 2000 * S}},
         {"1 audio start=5 sectors=1995 size=2352 offset=11760 file=C:\\cd\\g.bin"},
         "C:\\cd\\g.bin"},
        {"lower_case_keywords_ignored", G,
         "file \"x.bin\" binary\nFILE \"g.bin\" BINARY\ntrack 02 audio\nTRACK 01 AUDIO\n"
         "index 01 00:00:05\n",
         {{"C:\\cd\\g.bin", 2000 * S}, {"C:\\cd\\x.bin", 10 * S}},
         {"1 audio start=0 sectors=2000 size=2352 offset=0 file=C:\\cd\\g.bin"},
         "C:\\cd\\g.bin"},
        {"index_1_without_its_zero_ignored", G,
         "FILE \"g.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 1 00:00:05\n",
         {{"C:\\cd\\g.bin", 2000 * S}},
         {"1 audio start=0 sectors=2000 size=2352 offset=0 file=C:\\cd\\g.bin"},
         "C:\\cd\\g.bin"},
        {"unquoted_names_leave_the_file_empty", G,
         "FILE g.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:05\n",
         {{"C:\\cd\\g.bin", 2000 * S}},
         {"1 audio start=5 sectors=0 size=2352 offset=11760 kind=missing file="},
         ""},
        {"name_with_drive_letter_stands_alone", G,
         "FILE \"D:\\img\\g.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
         {{"D:\\img\\g.bin", 10 * S}},
         {"1 audio start=0 sectors=10 size=2352 offset=0 file=D:\\img\\g.bin"},
         "D:\\img\\g.bin"},
        {"sheet_path_with_slashes_only", "C:/images/game.cue",
         "FILE \"game.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
         {{"C:/images/game.bin", 10 * S}},
         {"1 audio start=0 sectors=10 size=2352 offset=0 file=C:/images/game.bin"},
         "C:/images/game.bin"},
        {"sheet_without_folder", "game.cue", "FILE \"game.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
         {{"game.bin", 10 * S}},
         {"1 audio start=0 sectors=10 size=2352 offset=0 file=game.bin"},
         "game.bin"},
        {"track_before_any_file", G,
         "TRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE \"g.bin\" BINARY\nTRACK 02 AUDIO\nINDEX 01 00:00:10\n",
         {{"C:\\cd\\g.bin", 2000 * S}},
         {"1 audio start=0 sectors=0 size=2352 offset=0 kind=missing file=",
          "2 audio start=10 sectors=1990 size=2352 offset=23520 file=C:\\cd\\g.bin"},
         "C:\\cd\\g.bin"},
        {"quoted_file_in_comment_and_cdtext_lines_ignored", G,
         "REM FILE \"decoy.bin\"\nCDTEXTFILE \"g.cdt\"\nFILE \"g.bin\" BINARY\nTRACK 01 MODE1/2352\n"
         "INDEX 01 00:00:00\n",
         {{"C:\\cd\\g.bin", 2000 * S}, {"C:\\cd\\decoy.bin", 10 * S}},
         {"1 data start=0 sectors=2000 size=2352 offset=0 file=C:\\cd\\g.bin"},
         "C:\\cd\\g.bin"},
        {"index_before_the_first_track_ignored", G,
         "FILE \"g.bin\" BINARY\nINDEX 01 00:00:07\nTRACK 01 AUDIO\n",
         {{"C:\\cd\\g.bin", 2000 * S}},
         {"1 audio start=0 sectors=2000 size=2352 offset=0 file=C:\\cd\\g.bin"},
         "C:\\cd\\g.bin"},
        {"later_index_01_wins", G,
         "FILE \"g.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:03\nINDEX 01 00:00:04\n",
         {{"C:\\cd\\g.bin", 2000 * S}},
         {"1 audio start=4 sectors=1996 size=2352 offset=9408 file=C:\\cd\\g.bin"},
         "C:\\cd\\g.bin"},
        {"missing_file_has_no_sectors", G, "FILE \"gone.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
         {},
         {"1 audio start=0 sectors=0 size=2352 offset=0 kind=missing file=C:\\cd\\gone.bin"},
         "C:\\cd\\gone.bin"},
        {"next_start_not_later_gives_0", G,
         "FILE \"g.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:02:00\nTRACK 02 AUDIO\nINDEX 01 00:01:00\n",
         {{"C:\\cd\\g.bin", 2000 * S}},
         {"1 audio start=150 sectors=0 size=2352 offset=352800 file=C:\\cd\\g.bin",
          "2 audio start=75 sectors=1925 size=2352 offset=176400 file=C:\\cd\\g.bin"},
         "C:\\cd\\g.bin"},
        {"same_file_in_other_letter_case", G,
         "FILE \"g.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
         "FILE \"G.BIN\" BINARY\nTRACK 02 AUDIO\nINDEX 01 00:10:00\n",
         {{"C:\\cd\\g.bin", 2000 * S}},
         {"1 audio start=0 sectors=750 size=2352 offset=0 file=C:\\cd\\g.bin",
          "2 audio start=2750 sectors=1250 size=2352 offset=1764000 file=C:\\cd\\G.BIN"},
         "C:\\cd\\g.bin"},
        {"missing_frames_count_0", G, "FILE \"g.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:20\n",
         {{"C:\\cd\\g.bin", 2000 * S}},
         {"1 audio start=1500 sectors=500 size=2352 offset=3528000 file=C:\\cd\\g.bin"},
         "C:\\cd\\g.bin"},
        {"non_numbers_count_0", G, "FILE \"g.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 xx:yy:5\n",
         {{"C:\\cd\\g.bin", 2000 * S}},
         {"1 audio start=0 sectors=2000 size=2352 offset=0 file=C:\\cd\\g.bin"},
         "C:\\cd\\g.bin"},
        {"negative_position_wraps_modulo_2_32", G, "FILE \"g.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:-1\n",
         {{"C:\\cd\\g.bin", 2000 * S}},
         {"1 audio start=4294967295 sectors=0 size=2352 offset=10101763077840 file=C:\\cd\\g.bin"},
         "C:\\cd\\g.bin"},
        {"utf8_name_after_a_byte_order_mark", G,
         "\xEF\xBB\xBF" "FILE \"Espa\xC3\xB1" "a.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n",
         {{"C:\\cd\\Espa\xC3\xB1" "a.bin", 100 * S}},
         {"1 data start=0 sectors=100 size=2352 offset=0 file=C:\\cd\\Espa\xC3\xB1" "a.bin"},
         "C:\\cd\\Espa\xC3\xB1" "a.bin"},
        // 99999999999 saturates at 2^31 - 1 (formatted input's limit) before the arithmetic.
        {"oversized_numbers_saturate", G,
         "FILE \"g.bin\" BINARY\nTRACK 99999999999 AUDIO\nINDEX 01 99999999999:00:00\n",
         {{"C:\\cd\\g.bin", 2000 * S}},
         {"2147483647 audio start=4294962796 sectors=0 size=2352 offset=10101752496192 file=C:\\cd\\g.bin"},
         "C:\\cd\\g.bin"},
        // An audio file counts in its decoded sectors, positions in it too; its kind is its content's.
        {"audio_files_count_their_decoded_sectors", G,
         "FILE \"g.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
         "FILE \"t2.flac\" WAVE\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n"
         "FILE \"t3.ogg\" MP3\nTRACK 03 AUDIO\nINDEX 00 00:00:00\nINDEX 01 00:01:00\n"
         "FILE \"t4.opus\" WAVE\nTRACK 04 AUDIO\nINDEX 01 00:00:00\n"
         "FILE \"t5.mp3\" MP3\nTRACK 05 AUDIO\nINDEX 01 00:00:00\n",
         {{"C:\\cd\\g.bin", 1000 * S}, {"C:\\cd\\t2.flac", 300 * S, TRACK_FLAC},
          {"C:\\cd\\t3.ogg", 200 * S, TRACK_VORBIS}, {"C:\\cd\\t4.opus", 100 * S, TRACK_OPUS},
          {"C:\\cd\\t5.mp3", 50 * S, TRACK_MP3}},
         {"1 data start=0 sectors=1000 size=2352 offset=0 file=C:\\cd\\g.bin",
          "2 audio start=1000 sectors=300 size=2352 offset=0 kind=flac file=C:\\cd\\t2.flac",
          "3 audio start=1375 sectors=125 size=2352 offset=176400 kind=vorbis file=C:\\cd\\t3.ogg",
          "4 audio start=1500 sectors=100 size=2352 offset=0 kind=opus file=C:\\cd\\t4.opus",
          "5 audio start=1600 sectors=50 size=2352 offset=0 kind=mp3 file=C:\\cd\\t5.mp3"},
         "C:\\cd\\g.bin"},
        {"one_flac_with_index_00_and_01_inside", G,
         "FILE \"g.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
         "FILE \"all.flac\" WAVE\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n"
         "TRACK 03 AUDIO\nINDEX 00 00:01:50\nINDEX 01 00:02:00\n",
         {{"C:\\cd\\g.bin", 1000 * S}, {"C:\\cd\\all.flac", 264 * S, TRACK_FLAC}},
         {"1 data start=0 sectors=1000 size=2352 offset=0 file=C:\\cd\\g.bin",
          "2 audio start=1000 sectors=150 size=2352 offset=0 kind=flac file=C:\\cd\\all.flac",
          "3 audio start=1150 sectors=114 size=2352 offset=352800 kind=flac file=C:\\cd\\all.flac"},
         "C:\\cd\\g.bin"},
        // The type word speaks only for a file of no audio format, and only for its audio tracks.
        {"type_word_of_a_file_of_no_audio_format", G,
         "FILE \"a.bin\" WAVE\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
         "FILE \"b.mp3\" MP3\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n"
         "FILE \"c.wav\" wave\nTRACK 03 AUDIO\nINDEX 01 00:00:00\n"
         "FILE \"d.bin\" MOTOROLA\nTRACK 04 AUDIO\nINDEX 01 00:00:00\n"
         "FILE \"e.bin\"\nTRACK 05 AUDIO\nINDEX 01 00:00:00\n"
         "FILE \"f.aif\" BINARY\nTRACK 06 AUDIO\nINDEX 01 00:00:00\n",
         {{"C:\\cd\\a.bin", 10 * S}, {"C:\\cd\\b.mp3", 10 * S}, {"C:\\cd\\c.wav", 10 * S},
          {"C:\\cd\\d.bin", 10 * S}, {"C:\\cd\\e.bin", 10 * S}, {"C:\\cd\\f.aif", 0, TRACK_UNKNOWN}},
         {"1 data start=0 sectors=10 size=2352 offset=0 file=C:\\cd\\a.bin",
          "2 audio start=10 sectors=10 size=2352 offset=0 kind=unknown file=C:\\cd\\b.mp3",
          "3 audio start=20 sectors=10 size=2352 offset=0 kind=unknown file=C:\\cd\\c.wav",
          "4 audio start=30 sectors=10 size=2352 offset=0 file=C:\\cd\\d.bin",
          "5 audio start=40 sectors=10 size=2352 offset=0 file=C:\\cd\\e.bin",
          "6 audio start=50 sectors=0 size=2352 offset=0 kind=unknown file=C:\\cd\\f.aif"},
         "C:\\cd\\a.bin"},
        {"data_track_in_an_audio_file_refuses_the_sheet", G,
         "FILE \"g.flac\" WAVE\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n",
         {{"C:\\cd\\g.flac", 1000 * S, TRACK_FLAC}}, {}, ""},
        {"data_track_after_audio_files_refuses_it_too", G,
         "FILE \"g.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
         "FILE \"t2.ogg\" MP3\nTRACK 02 AUDIO\nINDEX 01 00:00:00\nTRACK 03 MODE2/2352\nINDEX 01 00:01:00\n",
         {{"C:\\cd\\g.bin", 1000 * S}, {"C:\\cd\\t2.ogg", 300 * S, TRACK_VORBIS}}, {}, ""},
        {"data_track_in_a_file_that_cannot_be_read_refuses_the_sheet", G,
         "FILE \"gone.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
         "FILE \"a.bin\" BINARY\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n",
         {{"C:\\cd\\a.bin", 10 * S}}, {}, ""},
    };
    for (const sheet_case &c : cases) {
        SCOPED_TRACE(c.name);
        fake_files files;
        for (auto &f : c.files) files.add(f);
        parsed p = parse(c.sheet, c.sheet_path, files);
        EXPECT_EQ(p.tracks, c.tracks);
        EXPECT_EQ(p.data_file, c.data_file);
    }
}

static int recording_measure(void *user, const char *path, cue_file *out) {
    ((std::vector<std::string> *)user)->push_back(path);
    *out = {TRACK_RAW, 10 * RAW_SECTOR};
    return 1;
}

// A sheet is untrusted, and a sheet beside the setup is read at start-up: a name that is no local
// file is never looked at (no network connection, no device opened) and counts as missing.
TEST(cue_parse, names_that_are_no_local_file_are_never_asked_for) {
    struct name_case {
        const char *name;
        bool local;
    } cases[] = {
        {"\\\\host\\share\\x.bin::$DATA", false}, {"//host/share/x.bin", false}, {"\\\\.\\COM1", false},
        {"\\\\?\\C:\\x.bin", false}, {"COM1", false}, {"sub\\nul.bin", false}, {"CONOUT$", false},
        {"a.bin:s", false}, {"C:x.bin", false}, {"1:\\x.bin", false},
        {"x.bin", true}, {"..\\up\\x.bin", true}, {"D:\\img\\x.bin", true}, {"d:/img/x.bin", true},
    };
    for (const name_case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string sheet = std::string("FILE \"") + c.name + "\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n";
        std::vector<std::string> asked;
        cd_track t[MAX_TRACKS];
        char data[PATH_TEXT];
        // A data track without a file to read refuses the sheet.
        EXPECT_EQ(cue_parse(sheet.data(), sheet.size(), G, recording_measure, &asked, t, data), c.local ? 1 : 0);
        EXPECT_EQ(!asked.empty(), c.local);
        EXPECT_EQ(data[0] != 0, c.local);
    }
}

TEST(cue_parse, stops_adding_at_99_tracks) {
    std::string sheet = "FILE \"g.bin\" BINARY\n";
    for (int i = 1; i <= 120; i++) {
        char lines[80];
        snprintf(lines, sizeof lines, "TRACK %02d %s\nINDEX 01 %02d:00:00\n", i, i > 99 ? "MODE1/2048" : "AUDIO", i);
        sheet += lines;
    }
    fake_files files;
    files.add({"C:\\cd\\g.bin", 600000 * S});
    static cd_track t[MAX_TRACKS];
    memset(t, 0x5a, sizeof t);
    char data[PATH_TEXT];
    ASSERT_EQ(cue_parse(sheet.data(), sheet.size(), G, fake_measure, &files, t, data), 99);
    // The INDEX lines after the 99th TRACK land on it, the last (120 minutes) winning; the ignored
    // TRACK lines change neither its number nor the 2352-byte sectors its positions count in.
    EXPECT_EQ(track_line(t[97]), "98 audio start=441000 sectors=99000 size=2352 offset=1037232000 file=C:\\cd\\g.bin");
    EXPECT_EQ(track_line(t[98]), "99 audio start=540000 sectors=60000 size=2352 offset=1270080000 file=C:\\cd\\g.bin");
    EXPECT_EQ(t[99].number, 0x5a5a5a5a);  // the 100th entry stays untouched
}

// The text sits right before a page that cannot be read: a look past its end faults.
struct guarded_text {
    char *block = nullptr;
    size_t span = 0;
    const char *place(const std::string &s) {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        size_t page = si.dwPageSize;
        span = (s.size() + page - 1) / page * page + page;
        block = (char *)VirtualAlloc(NULL, span, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        DWORD old;
        VirtualProtect(block + span - page, page, PAGE_NOACCESS, &old);
        char *at = block + span - page - s.size();
        memcpy(at, s.data(), s.size());
        return at;
    }
    ~guarded_text() {
        if (block) VirtualFree(block, 0, MEM_RELEASE);
    }
};

TEST(cue_parse, never_reads_past_the_text) {
    std::string noise(10 * 1024 * 1024, 0);
    uint32_t x = 12345;
    for (char &c : noise) {
        x = x * 1103515245 + 12345;
        c = (char)(x >> 23);
    }
    std::string no_nul = noise;
    for (char &c : no_nul)
        if (!c) c = '"';
    const std::string base = "FILE \"g.bin\" BINARY\nTRACK 01 AUDIO\n";
    const std::string texts[] = {
        noise,
        no_nul,
        base + "INDEX 01 00:00:1",  // every line below ends in the middle of what it reads
        base + "INDEX 01 00:00:",
        base + "INDEX 01 -",
        base + "INDEX 01",
        "TRACK 12",
        "TRACK",
        "FILE \"unterminated",
        "FILE \"",
        " \t",
        "\"",
        "",
    };
    fake_files files;
    static cd_track t[MAX_TRACKS];
    char data[PATH_TEXT];
    for (const std::string &text : texts) {
        SCOPED_TRACE(text.substr(0, 40));
        guarded_text g;
        const char *p = g.place(text);
        int n = cue_parse(p, text.size(), G, fake_measure, &files, t, data);
        EXPECT_GE(n, 0);
        EXPECT_LE(n, TRACK_LIMIT);
        EXPECT_LT(strlen(data), (size_t)PATH_TEXT);
    }
}

// --- through cd_open, with real files -------------------------------------------------------

static std::string raw_sector(int seed) {
    std::string s(S, 0);
    for (int i = 0; i < S; i++) s[i] = (char)(seed * 7 + i);
    return s;
}

// A data track (the test volume in raw Mode 1 sectors, 1222 of them) followed in the same BIN by
// a 150-sector pregap and a 300-sector audio track.
static std::string make_game_bin(const std::string &dir) {
    std::string bin = slurp(testdata("volume-m1.bin"));
    EXPECT_EQ(bin.size(), 1222u * S);
    for (int i = 0; i < 150; i++) bin += std::string(S, 0);
    for (int i = 0; i < 300; i++) bin += raw_sector(i);
    spit(dir + "\\game.bin", bin);
    return dir + "\\game.bin";
}

static const char game_sheet[] =
    "FILE \"GAME.BIN\" BINARY\r\n"  // real sheets rarely match the letter case on disk
    "  TRACK 01 MODE1/2352\r\n"
    "    INDEX 01 00:00:00\r\n"
    "  TRACK 02 AUDIO\r\n"
    "    INDEX 00 00:16:22\r\n"
    "    INDEX 01 00:18:22\r\n";

static std::string slashes(std::string s) {
    for (char &c : s)
        if (c == '\\') c = '/';
    return s;
}

TEST(cue_open, sheet_opens_its_first_data_file_with_the_track_table) {
    std::string dir = temp_dir("cue");
    make_game_bin(dir);
    spit(dir + "\\game.cue", game_sheet);
    // The second form has no backslash at all: the sheet's folder ends at its last slash.
    const std::string paths[] = {dir + "\\game.cue", slashes(dir) + "/game.cue"};
    const std::string described[] = {"image " + dir + "\\GAME.BIN", "image " + slashes(dir) + "/GAME.BIN"};
    for (int k = 0; k < 2; k++) {
        SCOPED_TRACE(paths[k]);
        cd_source *s = cd_open(paths[k].c_str());
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(std::string(cd_describe(s)), described[k]);
        EXPECT_EQ(s->sector_size, (uint32_t)S);
        EXPECT_EQ(s->data_offset, 16u);
        track_info t[100];
        ASSERT_EQ(cd_tracks(s, t, 100), 2);
        EXPECT_EQ(t[0].number, 1);
        EXPECT_EQ(t[0].audio, 0);
        EXPECT_EQ(t[0].start_lba, 0u);
        EXPECT_EQ(t[0].sectors, 1372u);  // to track 2's INDEX 01, its pregap included
        EXPECT_EQ(t[1].number, 2);
        EXPECT_EQ(t[1].audio, 1);
        EXPECT_EQ(t[1].start_lba, 1372u);
        EXPECT_EQ(t[1].sectors, 300u);
        uint64_t size = 0;
        char *b = (char *)cd_read(s, "README.TXT", &size);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(std::string(b, size), "game data\r\n");
        free(b);
        std::string audio(2 * S, 0);
        ASSERT_EQ(cd_read_raw(s, 1, 298, 2, &audio[0]), 1);
        EXPECT_EQ(audio, raw_sector(298) + raw_sector(299));
        EXPECT_EQ(cd_read_raw(s, 1, 299, 2, &audio[0]), 0);  // past the end of the BIN
        cd_close(s);
    }
}

TEST(cue_open, sheets_without_a_readable_data_track_give_null) {
    std::string dir = temp_dir("cuebad");
    make_game_bin(dir);
    std::string audio;
    for (int i = 0; i < 40; i++) audio += raw_sector(i);
    spit(dir + "\\audio.bin", audio);
    const std::string good = game_sheet;
    std::string at_limit = good + "REM ";
    at_limit += std::string(CUE_MAX_BYTES - at_limit.size() - 2, 'x') + "\r\n";
    ASSERT_EQ(at_limit.size(), (size_t)CUE_MAX_BYTES);
    std::string random(10 * 1024 * 1024, 0);
    uint32_t x = 99;
    for (char &c : random) {
        x = x * 1103515245 + 12345;
        c = (char)(x >> 23);
    }
    struct {
        const char *name;
        std::string sheet;
        const char *opens;  // the data file named in the description, or null
    } cases[] = {
        {"good", good, "GAME.BIN"},
        {"one_mib_is_still_a_sheet", at_limit, "GAME.BIN"},
        {"nul_after_the_file_line", "FILE \"game.bin\" BINARY\r\n" + std::string(1, '\0') + "junk", "game.bin"},
        {"over_one_mib", at_limit + "\n", nullptr},
        {"audio_only_first_file", "FILE \"audio.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n" + good, nullptr},
        {"missing_bin", "FILE \"gone.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n", nullptr},
        {"empty", "", nullptr},
        {"only_unquoted_names", "FILE game.bin BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n", nullptr},
        {"nul_before_the_file_line", "REM x" + std::string(1, '\0') + "\n" + good, nullptr},
        {"ten_mib_of_random_bytes", random, nullptr},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string sheet = dir + "\\" + c.name + ".cue";
        spit(sheet, c.sheet);
        EXPECT_EQ(opened(sheet), c.opens ? "image " + dir + "\\" + c.opens : "(null)");
    }
    // A sheet that cannot be read: another process holds it without sharing.
    std::string locked = dir + "\\locked.cue";
    spit(locked, good);
    handle_guard hold(CreateFileA(locked.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL));
    ASSERT_TRUE(hold.ok());
    EXPECT_EQ(opened(locked), "(null)");
    hold.close();
    EXPECT_EQ(opened(locked), "image " + dir + "\\GAME.BIN");
}

// Sheets from libcdio's test data. Their FILE names differ from the files in letter case.
TEST(cue_read_sheet, real_sheets) {
    const std::string d = fixture("disc\\libcdio") + "\\";
    struct {
        const char *sheet;
        std::vector<std::string> tracks;
    } cases[] = {
        {"isofs-m1.cue", {"1 data start=0 sectors=302 size=2352 offset=0 file=" + d + "ISOFS-M1.BIN"}},
        {"cdda.cue", {"1 audio start=0 sectors=302 size=2352 offset=0 file=" + d + "CDDA.BIN"}},
        {"cdda_4_5.cue",
         {"4 audio start=0 sectors=150 size=2352 offset=0 file=" + d + "cdda_4_5.bin",
          "5 audio start=150 sectors=152 size=2352 offset=352800 file=" + d + "cdda_4_5.bin"}},
        // BOING.BIN is not there: the last track in it has no sectors.
        {"p1.cue",
         {"1 audio start=75 sectors=150 size=2352 offset=176400 kind=missing file=" + d + "BOING.BIN",
          "2 audio start=225 sectors=0 size=2352 offset=529200 kind=missing file=" + d + "BOING.BIN"}},
        {"bad-cat1.cue", {"1 audio start=0 sectors=302 size=2352 offset=0 file=" + d + "cdda.bin"}},
        {"bad-cat2.cue", {"1 audio start=0 sectors=302 size=2352 offset=0 file=" + d + "cdda.bin"}},
        {"bad-cat3.cue", {"1 audio start=0 sectors=302 size=2352 offset=0 file=" + d + "cdda.bin"}},
        {"bad-mode1.cue", {"1 data start=0 sectors=302 size=2352 offset=0 file=" + d + "cdda.bin"}},
        {"bad-msf-1.cue", {"1 audio start=100 sectors=202 size=2352 offset=235200 file=" + d + "cdda.bin"}},
        {"bad-msf-2.cue", {"1 audio start=6750 sectors=0 size=2352 offset=15876000 file=" + d + "cdda.bin"}},
        {"bad-msf-3.cue", {"1 audio start=0 sectors=302 size=2352 offset=0 file=" + d + "cdda.bin"}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.sheet);
        static cd_track t[MAX_TRACKS];
        char data[PATH_TEXT];
        int n = cue_read_sheet((d + c.sheet).c_str(), t, data);
        std::vector<std::string> got;
        for (int i = 0; i < n; i++) got.push_back(track_line(t[i]));
        EXPECT_EQ(got, c.tracks);
        EXPECT_EQ(std::string(data), c.tracks[0].substr(c.tracks[0].find("file=") + 5));
    }
    EXPECT_EQ(opened(d + "isofs-m1.cue"), "image " + d + "ISOFS-M1.BIN");
    EXPECT_EQ(opened(d + "cdda.cue"), "(null)");  // an audio-only first file
}
