// Names from discs and sheets as the setup takes them. This program carries the setup's manifest,
// so it runs in the UTF-8 code page as the setup does: a name written in an 8-bit code page ("ñ" as
// the one byte 0xF1 of code page 1252) is converted from the system locale's ANSI code page (1252 in
// the test prefix), and the rules for names hold for what it became.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "cdsrc/cdsrc.h"
#include "cdsrc/cue.h"
#include "iso_builder.h"
#include "support.h"
#include "util/text.h"

static UINT system_ansi_code_page(void) {
    char number[8] = "";
    GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, number, sizeof number);
    return (UINT)strtoul(number, NULL, 10);
}

#define NEEDS_1252()                                                                   \
    if (system_ansi_code_page() != 1252) GTEST_SKIP() << "the system locale's ANSI code page is " \
                                                      << system_ansi_code_page() << ", not 1252"

// Wine honours the manifest's activeCodePage as Windows 10 (1903) does.
TEST(disc_names, the_setups_manifest_gives_the_utf8_code_page) { EXPECT_EQ(GetACP(), (UINT)CP_UTF8); }

TEST(disc_names, names_in_an_8bit_code_page_are_converted_never_cut) {
    NEEDS_1252();
    struct {
        const char *why;
        std::string in;
        size_t size;
        int ok;
        std::string out;
    } cases[] = {
        {"0xF1 is n with a tilde", "A\xF1O.DAT", 16, 1, "A\xC3\xB1O.DAT"},
        {"0x80 is the euro sign, three bytes", "\x80", 4, 1, "\xE2\x82\xAC"},
        {"UTF-8 goes as it is", "A\xC3\xB1O.DAT", 16, 1, "A\xC3\xB1O.DAT"},
        {"it just fits", "\xF1\xF1", 5, 1, "\xC3\xB1\xC3\xB1"},
        {"one byte short: refused", "\xF1\xF1", 4, 0, ""},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.why);
        char out[16] = "";
        ASSERT_LE(c.size, sizeof out);
        EXPECT_EQ(text_from_disc(c.in.data(), c.in.size(), out, c.size), c.ok);
        if (c.ok) {
            EXPECT_EQ(std::string(out), c.out);
        }
    }
}

static void on_dir(void *, const char *) {}
static void on_file(void *user, const char *rel, uint64_t size) { (*(std::map<std::string, uint64_t> *)user)[rel] = size; }

// ROOT: "AñO.DAT" in 1252; "COM¹" in 1252, a device once converted; "ñ.DAT" in 1252 and in UTF-8,
// one file once converted, of which the first record stands.
TEST(disc_names, record_names_are_converted_before_the_walk_rules) {
    NEEDS_1252();
    iso_builder b;
    uint32_t first = b.add_data("first"), second = b.add_data("second");
    uint32_t root_len;
    uint32_t root = b.add_dir({iso_builder::file("A\xF1O.DAT;1", first, 5), iso_builder::file("COM\xB9;1", first, 5),
                               iso_builder::file("\xF1.DAT;1", first, 5), iso_builder::file("\xC3\xB1.DAT;1", second, 6)},
                              &root_len);
    b.set_root(root, root_len);
    std::string dir = temp_dir("names"), image = dir + "\\names.iso", dest = dir + "\\out";
    spit(image, b.bytes());
    cd_source *s = cd_open(image.c_str());
    ASSERT_NE(s, nullptr);
    std::map<std::string, uint64_t> listed;
    cd_lister l = {on_dir, on_file, &listed};
    EXPECT_EQ(cd_list(s, &l), 1);
    EXPECT_EQ(listed, (std::map<std::string, uint64_t>{{"A\xC3\xB1O.DAT", 5}, {"\xC3\xB1.DAT", 5}}));
    ASSERT_EQ(cd_copy_all(s, dest.c_str(), NULL), 1);
    cd_close(s);
    EXPECT_EQ(slurp(dest + "\\A\xC3\xB1O.DAT"), "first");
    // The name on disk is the character, as a program of code page 1252 would have made it.
    std::wstring wide(dest.begin(), dest.end());  // the temporary folder's path is ASCII
    EXPECT_NE(GetFileAttributesW((wide + L"\\A\x00F1O.DAT").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(slurp(dest + "\\\xC3\xB1.DAT"), "first");
}

static int recording_measure(void *user, const char *path, cue_file *out) {
    ((std::vector<std::string> *)user)->push_back(path);
    out->kind = TRACK_RAW;
    out->bytes = 10 * RAW_SECTOR;
    return 1;
}

TEST(disc_names, sheet_names_are_converted_before_the_local_path_rule) {
    NEEDS_1252();
    struct {
        const char *name;
        const char *path;  // the file the sheet names, or "" when it is none
    } cases[] = {
        {"espa\xF1" "a.bin", "C:\\cd\\espa\xC3\xB1" "a.bin"},
        {"C:\\discos\\\xD1" "U.bin", "C:\\discos\\\xC3\x91U.bin"},
        {"COM\xB9", ""},  // "COM¹" opens a device
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.path);
        std::string sheet = std::string("FILE \"") + c.name + "\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n";
        std::vector<std::string> asked;
        cd_track t[MAX_TRACKS];
        char data[PATH_TEXT];
        // A data track without a file to read refuses the sheet.
        ASSERT_EQ(cue_parse(sheet.data(), sheet.size(), "C:\\cd\\g.cue", recording_measure, &asked, t, data),
                  c.path[0] ? 1 : 0);
        EXPECT_EQ(std::string(data), c.path);
        EXPECT_EQ(asked, c.path[0] ? std::vector<std::string>{c.path} : std::vector<std::string>{});
    }
}
