#include <gtest/gtest.h>

#include <stdlib.h>

#include "cdsrc/cdsrc.h"
#include "opened.h"
#include "support.h"

TEST(cd_open, paths_are_normalised_and_folders_come_first) {
    std::string t = temp_dir("open");
    CreateDirectoryA((t + "\\disc.iso").c_str(), NULL);
    CreateDirectoryA((t + "\\my.games").c_str(), NULL);
    CreateDirectoryA((t + "\\my.games\\disc").c_str(), NULL);
    spit(t + "\\notes.txt", "just text, not an image");
    spit(t + "\\empty.iso", "");
    struct {
        std::string path, description;
    } cases[] = {
        {t + "\\disc.iso", "folder " + t + "\\disc.iso"},  // a folder named like an image
        {t + "\\my.games\\disc\\\\//", "folder " + t + "\\my.games\\disc"},
        {"D:", "folder D:\\"},
        {"D:\\", "folder D:\\"},
        {"D:\\\\", "folder D:\\"},
        {t + "\\notes.txt", "(null)"},
        {t + "\\empty.iso", "(null)"},
        {t + "\\missing.cue", "(null)"},
        {t + "\\missing.NRG", "(null)"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(opened(c.path), c.description);
    }
    // The files were closed: they can be deleted.
    EXPECT_TRUE(DeleteFileA((t + "\\notes.txt").c_str()));
    EXPECT_TRUE(DeleteFileA((t + "\\empty.iso").c_str()));
}

TEST(cd_open, wine_cdrom_drive_is_a_folder_source) {
    ASSERT_EQ(GetDriveTypeA("D:\\"), (UINT)DRIVE_CDROM);
    cd_source *s = cd_open("D:");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->is_image, 0);
    EXPECT_EQ(s->image, INVALID_HANDLE_VALUE);
    // Wine opens the device of a drive mapped on a folder but answers no table of contents.
    EXPECT_EQ(s->drive, INVALID_HANDLE_VALUE);
    EXPECT_EQ(s->track_count, 0);
    EXPECT_EQ(cd_exists(s, "DATA\\MAPS"), 1);
    uint64_t size = 0;
    char *b = (char *)cd_read(s, "README", &size);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(std::string(b, size), "readme\r\n");
    free(b);
    cd_close(s);
}

static void tree(const std::string &root, int levels) {
    std::string d = root;
    for (int i = 1; i <= levels; i++) {
        d += "\\L" + std::to_string(i);
        CreateDirectoryA(d.c_str(), NULL);
        spit(d + "\\f.txt", std::string(i, 'x'));
    }
}

TEST(folder_source, depth_limit_and_counts) {
    std::string src = temp_dir("fsrc");
    tree(src, 18);
    spit(src + "\\top.bin", "12345");
    cd_source *s = cd_open(src.c_str());
    ASSERT_NE(s, nullptr);
    // Files down to L16 (16 levels below the root) count: 5 + (1 + ... + 16).
    EXPECT_EQ(cd_total_bytes(s), 5u + 136u);
    std::string dest = temp_dir("fdst") + "\\copy";
    ASSERT_EQ(cd_copy_all(s, dest.c_str(), NULL), 1);
    std::string d = dest;
    for (int i = 1; i <= 16; i++) d += "\\L" + std::to_string(i);
    EXPECT_EQ(slurp(d + "\\f.txt"), std::string(16, 'x'));
    EXPECT_FALSE(exists(d + "\\L17"));
    cd_close(s);
}

TEST(folder_source, empty_folder_copies_to_an_empty_destination) {
    cd_source *s = cd_open(temp_dir("fempty").c_str());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(cd_total_bytes(s), 0u);
    std::string dest = temp_dir("fempty_dst") + "\\x\\y";
    EXPECT_EQ(cd_copy_all(s, dest.c_str(), NULL), 1);
    EXPECT_TRUE(is_dir(dest.c_str()));
    track_info t[4];
    EXPECT_EQ(cd_tracks(s, t, 4), 0);
    cd_close(s);
}

// The CD picked as a folder that holds the install folder: the copy must not copy itself, and the
// folders on the way to it are CD content like any other.
TEST(folder_source, destination_inside_the_source_is_never_entered) {
    std::string src = temp_dir("self");
    spit(src + "\\GAME.DAT", "data");
    CreateDirectoryA((src + "\\Games").c_str(), NULL);
    spit(src + "\\Games\\other.txt", "o");
    CreateDirectoryA((src + "\\Games\\Drovenhelm").c_str(), NULL);
    spit(src + "\\Games\\Drovenhelm\\old.txt", "left from before");
    std::string dest = src + "\\games\\Drovenhelm\\game\\cd";  // letter case differs on purpose
    cd_source *s = cd_open(src.c_str());
    ASSERT_NE(s, nullptr);
    cd_skip_folder(s, (src + "\\Games\\Drovenhelm").c_str());
    EXPECT_EQ(cd_total_bytes(s), 5u);
    ASSERT_EQ(cd_copy_all(s, dest.c_str(), NULL), 1);
    EXPECT_EQ(slurp(dest + "\\GAME.DAT"), "data");
    EXPECT_EQ(slurp(dest + "\\Games\\other.txt"), "o");
    EXPECT_FALSE(exists(dest + "\\Games\\Drovenhelm"));
    cd_close(s);
}

TEST(folder_source, copy_stops_at_the_first_file_that_fails) {
    std::string src = temp_dir("fstop");
    spit(src + "\\a.txt", "a");
    spit(src + "\\b.txt", "b");
    spit(src + "\\c.txt", "c");
    std::string dest = temp_dir("fstop_dst");
    CreateDirectoryA((dest + "\\b.txt").c_str(), NULL);  // b cannot be written
    cd_source *s = cd_open(src.c_str());
    log_capture log;
    EXPECT_EQ(cd_copy_all(s, dest.c_str(), NULL), 0);
    EXPECT_EQ(log.text(), "cannot write " + dest + "\\b.txt\n");
    // Wine lists a folder in creation order: a came before b, c after it.
    EXPECT_TRUE(exists(dest + "\\a.txt"));
    EXPECT_FALSE(exists(dest + "\\c.txt"));
    cd_close(s);
}

TEST(cd_tracks, copies_up_to_capacity) {
    cd_source *s = cd_new();
    s->track_count = 99;
    for (int i = 0; i < 99; i++) {
        s->tracks[i].number = i + 1;
        s->tracks[i].start_lba = 1000u * i;
    }
    track_info t[100];
    EXPECT_EQ(cd_tracks(s, t, 100), 99);
    EXPECT_EQ(t[98].number, 99);
    EXPECT_EQ(t[98].start_lba, 98000u);
    EXPECT_EQ(cd_tracks(s, t, 3), 3);
    EXPECT_EQ(cd_tracks(s, t, 0), 0);
    EXPECT_EQ(cd_tracks(s, t, -1), 0);
    static_assert(sizeof(track_info) == 16, "the public head of a track entry is 16 bytes");
    cd_close(s);
}

TEST(cd_read_raw, reads_whole_sectors_of_2352_byte_tracks_only) {
    std::string t = temp_dir("raw");
    std::string bin(5 * 2352, 0);
    for (size_t i = 0; i < bin.size(); i++) bin[i] = (char)(i / 2352 + 1);
    spit(t + "\\a.bin", bin);
    cd_source *s = cd_new();
    s->track_count = 2;
    snprintf(s->tracks[0].file, PATH_TEXT, "%s\\a.bin", t.c_str());
    s->tracks[0].file_offset = 2352;  // the track starts at the file's second sector
    s->tracks[0].sector_size = 2352;
    s->tracks[1] = s->tracks[0];
    s->tracks[1].sector_size = 2048;
    std::string buf(2 * 2352, 0);
    ASSERT_EQ(cd_read_raw(s, 0, 1, 2, &buf[0]), 1);
    EXPECT_EQ(buf[0], 3);
    EXPECT_EQ(buf[2352], 4);
    EXPECT_EQ(cd_read_raw(s, 0, 3, 2, &buf[0]), 0);  // runs past the end of the file
    EXPECT_EQ(cd_read_raw(s, 1, 0, 1, &buf[0]), 0);  // 2048-byte sectors
    EXPECT_EQ(cd_read_raw(s, 2, 0, 1, &buf[0]), 0);
    EXPECT_EQ(cd_read_raw(s, -1, 0, 1, &buf[0]), 0);
    cd_close(NULL);
    cd_close(s);
}
