// A cue sheet's audio files read as CD sectors, on files the real encoders made
// (make-testdata.sh, testdata\cueaudio): each file decoded once, front to back, however the reads
// come, and opened again only for a read that goes back.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>

#include "cdsrc/cdsrc.h"
#include "cdsrc/descriptors.h"
#include "import_swap.h"
#include "support.h"

namespace {

const char *g_watched;  // opens of a file whose name ends so are counted
int g_opens;
decltype(&CreateFileA) g_real_create_file;

HANDLE WINAPI counting_create_file(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD how,
                                   DWORD flags, HANDLE tmpl) {
    size_t n = strlen(name), w = strlen(g_watched);
    if (n >= w && _stricmp(name + n - w, g_watched) == 0) g_opens++;
    return g_real_create_file(name, access, share, sa, how, flags, tmpl);
}

struct open_counter {
    import_swap swap;
    explicit open_counter(const char *suffix) : swap("kernel32.dll", "CreateFileA", (void *)counting_create_file) {
        g_watched = suffix;
        g_opens = 0;
        g_real_create_file = (decltype(&CreateFileA))swap.original;
    }
};

enum { S = 2352, BLOCK = 75 };

}  // namespace

// Both tracks of oneflac.cue are in both.flac: 150 and 114 sectors, INDEX 00/01 inside it.
TEST(cd_read_raw, an_audio_file_is_decoded_once_front_to_back) {
    const std::string pcm = slurp(testdata("cueaudio\\track02.raw")) + slurp(testdata("cueaudio\\track03.raw"));
    ASSERT_EQ(pcm.size(), 264u * S);
    cd_source *s = cd_open(testdata("cueaudio\\oneflac.cue").c_str());
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->track_count, 3);
    open_counter opens("both.flac");
    ASSERT_TRUE(opens.swap.ok());
    std::string got;
    std::string block(BLOCK * S, '\0');
    for (int track = 1; track <= 2; track++) {
        ASSERT_EQ(cd_track_ready(s, track), 1);
        uint32_t sectors = s->tracks[track].sectors;
        for (uint32_t f = 0; f < sectors; f += BLOCK) {
            uint32_t n = sectors - f < (uint32_t)BLOCK ? sectors - f : (uint32_t)BLOCK;
            ASSERT_EQ(cd_read_raw(s, track, f, (int)n, &block[0]), 1);
            got.append(block, 0, n * S);
        }
    }
    EXPECT_TRUE(got == pcm);
    EXPECT_EQ(g_opens, 1);  // one decoder for both tracks, kept open between the blocks

    // A read behind the last one decodes the file again from its start.
    std::string one(S, '\0');
    ASSERT_EQ(cd_read_raw(s, 1, 3, 1, &one[0]), 1);
    EXPECT_TRUE(one == pcm.substr(3 * S, S));
    EXPECT_EQ(g_opens, 2);
    // Past the file's end there is nothing to read.
    EXPECT_EQ(cd_read_raw(s, 2, 113, 1, &one[0]), 1);
    EXPECT_EQ(cd_read_raw(s, 2, 114, 1, &one[0]), 0);
    cd_close(s);
}

// A hostile sheet may name one audio file thousands of times: it is measured once.
TEST(cue_read_sheet, each_file_is_measured_once) {
    std::string dir = temp_dir("measure");
    std::string sheet = "FILE \"" + testdata("cueaudio\\data.bin") + "\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n";
    for (int i = 0; i < 2000; i++) sheet += "FILE \"" + testdata("cueaudio\\track03.ogg") + "\" MP3\n";
    sheet += "TRACK 02 AUDIO\nINDEX 01 00:00:00\n";
    spit(dir + "\\many.cue", sheet);
    open_counter opens("track03.ogg");
    static cd_track t[MAX_TRACKS];
    char data[PATH_TEXT];
    ASSERT_EQ(cue_read_sheet((dir + "\\many.cue").c_str(), t, data), 2);
    EXPECT_EQ(g_opens, 1);
    EXPECT_EQ(t[1].kind, TRACK_VORBIS);
    EXPECT_EQ(t[1].sectors, 114u);
    EXPECT_EQ(t[1].start_lba, 1066u + 1999u * 114u);  // every FILE line before it counts its sectors
}
