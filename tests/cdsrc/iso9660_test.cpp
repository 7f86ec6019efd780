#include <gtest/gtest.h>

#include <stdlib.h>
#include <windows.h>

#include "cdsrc/cdsrc.h"
#include "cdsrc/image.h"
#include "import_swap.h"
#include "iso_builder.h"
#include "support.h"

static cd_source *open_bytes(const std::string &bytes, std::string *path = NULL) {
    std::string p = temp_dir("iso") + "\\image.iso";
    spit(p, bytes);
    if (path) *path = p;
    return cd_open(p.c_str());
}

// ROOT: README.TXT;1, DIR/SUB/FILE;1, EMPTY.DAT;1
static iso_builder small_volume() {
    iso_builder b;
    uint32_t f1 = b.add_data("hello"), f2 = b.add_data("deep file");
    uint32_t sub_len, dir_len, root_len;
    uint32_t sub = b.add_dir({iso_builder::file("FILE.;1", f2, 9)}, &sub_len);
    uint32_t dir = b.add_dir({iso_builder::dir("SUB", sub, sub_len)}, &dir_len);
    uint32_t root = b.add_dir({iso_builder::dir("DIR", dir, dir_len), iso_builder::file("EMPTY.DAT;1", f1, 0),
                               iso_builder::file("README.TXT;1", f1, 5)},
                              &root_len);
    b.set_root(root, root_len);
    return b;
}

TEST(iso_find, paths) {
    cd_source *s = open_bytes(small_volume().bytes());
    ASSERT_NE(s, nullptr);
    struct {
        const char *path;
        int found;
        const char *name;
        int directory;
    } cases[] = {
        {"README.TXT", 1, "README.TXT", 0},
        {"readme.txt", 1, "README.TXT", 0},
        {"dir/sub\\file", 1, "FILE", 0},
        {"DIR\\", 1, "DIR", 1},
        {"DIR//SUB", 1, "SUB", 1},
        {"\\README.TXT", 0, NULL, 0},
        {"README.TXT\\x", 0, NULL, 0},
        {"MISSING", 0, NULL, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.path);
        iso_entry e = {};
        EXPECT_EQ(iso_find(s, c.path, &e), c.found);
        if (c.found) {
            EXPECT_STREQ(e.name, c.name);
            EXPECT_EQ(e.directory, c.directory);
        }
    }
    iso_entry untouched;
    memset(&untouched, 0x5A, sizeof untouched);
    EXPECT_EQ(iso_find(s, "", &untouched), 1);  // the root; out is left alone
    EXPECT_EQ((uint8_t)untouched.name[0], 0x5A);
    cd_close(s);
}

TEST(cd_read, image_files_and_what_is_not_a_file) {
    cd_source *s = open_bytes(small_volume().bytes());
    ASSERT_NE(s, nullptr);
    uint64_t size = 99;
    char *b = (char *)cd_read(s, "dir\\sub\\file", &size);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(size, 9u);
    EXPECT_EQ(std::string(b, 9), "deep file");
    free(b);
    size = 99;
    EXPECT_EQ(cd_read(s, "DIR", &size), nullptr);
    EXPECT_EQ(cd_read(s, "NOPE", &size), nullptr);
    EXPECT_EQ(cd_read(s, "", &size), nullptr);  // the root is not a file
    EXPECT_EQ(size, 99u);
    EXPECT_EQ(cd_exists(s, "Dir/Sub"), 1);
    EXPECT_EQ(cd_exists(s, "SUB"), 0);
    cd_close(s);
}

TEST(probe, refuses_what_is_not_a_primary_descriptor) {
    iso_builder b = small_volume();
    struct {
        const char *why;
        size_t at;
        char value;
        size_t truncate;
    } cases[] = {
        {"supplementary descriptor", 16 * 2048, 2, 0},
        {"wrong identifier", 16 * 2048 + 3, 'X', 0},
        {"too short for sector 16", 0, 0, 16 * 2048 + 100},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.why);
        std::string bytes = b.bytes();
        if (c.truncate)
            bytes.resize(c.truncate);
        else
            bytes[c.at] = c.value;
        EXPECT_EQ(open_bytes(bytes), nullptr);
    }
}

static std::vector<uint64_t> blocks;
static void on_block(uint64_t done, uint64_t, void *) { blocks.push_back(done); }

TEST(iso_copy, files_in_64k_blocks_with_progress) {
    iso_builder b;
    std::string big(65537, 0);
    for (size_t i = 0; i < big.size(); i++) big[i] = (char)(i * 13 + 1);
    uint32_t f = b.add_data(big);
    uint32_t root_len;
    uint32_t root = b.add_dir({iso_builder::file("BIG.BIN;1", f, 65537), iso_builder::file("ZERO;1", f, 0)}, &root_len);
    b.set_root(root, root_len);
    cd_source *s = open_bytes(b.bytes());
    ASSERT_NE(s, nullptr);
    std::string dest = temp_dir("copy") + "\\out";
    blocks.clear();
    progress p = {0, 0, on_block, NULL};
    ASSERT_EQ(cd_copy_all(s, dest.c_str(), &p), 1);
    EXPECT_EQ(blocks, (std::vector<uint64_t>{65536, 65537}));  // 64 KiB, then 1 byte; nothing for ZERO
    EXPECT_TRUE(slurp(dest + "\\BIG.BIN") == big);
    EXPECT_TRUE(exists(dest + "\\ZERO"));
    EXPECT_EQ(slurp(dest + "\\ZERO"), "");
    EXPECT_EQ(cd_total_bytes(s), 65537u);
    cd_close(s);
}

TEST(iso_copy, read_error_mid_file_keeps_the_partial_file) {
    iso_builder b;
    uint32_t f = b.add_data(std::string(65536 + 2048, 'x'));  // the extent claims 3 blocks, 1 and a bit exist
    uint32_t root_len;
    uint32_t root = b.add_dir({iso_builder::file("CUT.BIN;1", f, 3 * 65536), iso_builder::file("AFTER;1", f, 1)},
                              &root_len);
    b.set_root(root, root_len);
    std::string img = b.bytes();
    cd_source *s = open_bytes(img);
    ASSERT_NE(s, nullptr);
    std::string dest = temp_dir("cut");
    log_capture log;
    EXPECT_EQ(cd_copy_all(s, dest.c_str(), NULL), 0);
    EXPECT_EQ(log.text(), "read error in CUT.BIN\n");
    EXPECT_EQ(slurp(dest + "\\CUT.BIN").size(), 65536u);
    EXPECT_FALSE(exists(dest + "\\AFTER"));  // the copy stopped at the failure
    cd_close(s);
}

TEST(iso_copy, a_failed_write_names_the_file) {
    iso_builder b = small_volume();
    cd_source *s = open_bytes(b.bytes());
    ASSERT_NE(s, nullptr);
    std::string dest = temp_dir("full");
    log_capture log;
    int result;
    {
        import_swap swap("kernel32.dll", "WriteFile", (void *)write_fails_disk_full);
        ASSERT_TRUE(swap.ok());
        result = cd_copy_all(s, dest.c_str(), NULL);
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(log.text(), "cannot write " + dest + "\\DIR\\SUB\\FILE\n");
    cd_close(s);
}

// A file whose path would not fit is named by the destination and its path below it, whole: never
// by a path cut to the buffer (which could end inside a UTF-8 character).
TEST(iso_copy, a_path_that_does_not_fit_is_named_whole) {
    cd_source *s = open_bytes(small_volume().bytes());
    ASSERT_NE(s, nullptr);
    std::string dest = temp_dir("long");
    dest += "\\" + std::string(PATH_TEXT - 12 - dest.size() - 1, 'x');  // 508 bytes: dest\DIR\SUB\FILE is 521
    log_capture log;
    EXPECT_EQ(cd_copy_all(s, dest.c_str(), NULL), 0);
    EXPECT_EQ(log.text(), "cannot write " + dest + "\\DIR\\SUB\\FILE\n");
    cd_close(s);
}

// Records that a crafted image could use to escape the destination, or to make a walk endless.
TEST(iso_copy, hostile_directories_stay_bounded_and_inside) {
    iso_builder b;
    uint32_t f = b.add_data("payload");
    uint32_t root_lba = (uint32_t)(b.img.size() / 2048);  // the root comes next
    std::vector<std::string> recs = {
        iso_builder::file("..\\..\\VERSION.DLL", f, 7), iso_builder::file("CON", f, 7),
        iso_builder::file("A:B", f, 7),                 iso_builder::dir("..", root_lba, 2048),
        iso_builder::dir("LOOP", root_lba, 2048),       iso_builder::file("OK.TXT;1", f, 7),
    };
    for (int i = 0; i < 10; i++) recs.push_back(iso_builder::dir("SHARED" + std::to_string(i), root_lba, 2048));
    uint32_t root_len;
    ASSERT_EQ(b.add_dir(recs, &root_len), root_lba);
    b.set_root(root_lba, root_len);
    cd_source *s = open_bytes(b.bytes());
    ASSERT_NE(s, nullptr);
    std::string base = temp_dir("hostile");
    std::string dest = base + "\\a\\b";
    EXPECT_EQ(cd_total_bytes(s), 7u);
    ASSERT_EQ(cd_copy_all(s, dest.c_str(), NULL), 1);
    EXPECT_EQ(slurp(dest + "\\OK.TXT"), "payload");
    EXPECT_FALSE(exists(base + "\\VERSION.DLL"));
    EXPECT_FALSE(exists(dest + "\\A"));
    EXPECT_FALSE(exists(dest + "\\LOOP"));  // the root's extent was entered already
    cd_close(s);
}

// Folders whose extents begin inside one already entered, a sector further each time: every one
// would list the rest of the same data again, so that a walk over such an image reads far more
// than the image holds (a 4 MiB image of them cost 4 GiB of reads).
TEST(iso_copy, overlapping_directory_extents_are_entered_once) {
    iso_builder b;
    uint32_t f = b.add_data("x");
    uint32_t root = (uint32_t)(b.img.size() / 2048);
    for (uint32_t k = 0; k < 3; k++) {
        std::string file = iso_builder::file("F" + std::to_string(k) + ";1", f, 1);
        std::string into = k < 2 ? iso_builder::dir("D" + std::to_string(k), root + k + 1, (2 - k) * 2048) : "";
        b.put(root + k, into + file);
    }
    b.img.resize((root + 3) * 2048, 0);
    b.set_root(root, 3 * 2048);
    cd_source *s = open_bytes(b.bytes());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(cd_total_bytes(s), 3u);  // F0, F1 and F2 once each
    std::string dest = temp_dir("overlap");
    ASSERT_EQ(cd_copy_all(s, dest.c_str(), NULL), 1);
    for (const char *name : {"F0", "F1", "F2"}) EXPECT_EQ(slurp(dest + "\\" + name), "x") << name;
    EXPECT_FALSE(exists(dest + "\\D0"));
    EXPECT_FALSE(exists(dest + "\\D1"));
    cd_close(s);
}

TEST(iso_copy, unreadable_subdirectory_fails_the_copy) {
    iso_builder b;
    uint32_t root_len;
    uint32_t root = b.add_dir({iso_builder::dir("GONE", 5000, 2048), iso_builder::dir("HUGE", 18, 0xFFFFF800u)},
                              &root_len);
    b.set_root(root, root_len);
    cd_source *s = open_bytes(b.bytes());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(cd_total_bytes(s), 0u);  // totals count it as empty
    std::string dest = temp_dir("gone");
    log_capture log;
    EXPECT_EQ(cd_copy_all(s, dest.c_str(), NULL), 0);
    EXPECT_EQ(log.text(), "read error in GONE\n");
    cd_close(s);
}

TEST(iso_copy, root_of_4gib_is_refused_without_allocating_it) {
    iso_builder b;
    b.set_root(18, 0xFFFFF800u);
    b.img.resize(19 * 2048, 0);
    cd_source *s = open_bytes(b.bytes());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(cd_total_bytes(s), 0u);
    log_capture log;
    EXPECT_EQ(cd_copy_all(s, temp_dir("huge").c_str(), NULL), 0);
    EXPECT_EQ(log.text(), "read error in the root directory\n");
    cd_close(s);
}

TEST(iso_copy, multi_extent_parts_are_appended) {
    iso_builder b;
    uint32_t a = b.add_data(std::string(2048, 'a')), c = b.add_data("bbb");
    uint32_t root_len;
    uint32_t root = b.add_dir({iso_builder::rec("PARTS.BIN;1", a, 2048, 0x80), iso_builder::file("PARTS.BIN;1", c, 3)},
                              &root_len);
    b.set_root(root, root_len);
    cd_source *s = open_bytes(b.bytes());
    ASSERT_NE(s, nullptr);
    std::string dest = temp_dir("multi");
    ASSERT_EQ(cd_copy_all(s, dest.c_str(), NULL), 1);
    EXPECT_EQ(slurp(dest + "\\PARTS.BIN"), std::string(2048, 'a') + "bbb");
    EXPECT_EQ(cd_total_bytes(s), 2051u);
    cd_close(s);
}

static void list_dir(void *user, const char *rel) { ((std::vector<std::string> *)user)->push_back(std::string("dir ") + rel); }
static void list_file(void *user, const char *rel, uint64_t size) {
    ((std::vector<std::string> *)user)->push_back("file " + std::to_string(size) + " " + rel);
}

// Only file records continue a multi-extent file. A folder record of the same name is a folder:
// joined to the file, its bytes were listed and copied as file data while the size total entered
// it, so the total and the copy disagreed.
TEST(iso_list, a_folder_after_a_multi_extent_part_is_a_folder_of_its_own) {
    iso_builder b;
    uint32_t a = b.add_data(std::string(2048, 'a')), c = b.add_data("in");
    uint32_t sub_len, root_len;
    uint32_t sub = b.add_dir({iso_builder::file("INNER;1", c, 2)}, &sub_len);
    uint32_t root =
        b.add_dir({iso_builder::rec("PARTS.BIN;1", a, 2048, 0x80), iso_builder::dir("PARTS.BIN", sub, sub_len)}, &root_len);
    b.set_root(root, root_len);
    cd_source *s = open_bytes(b.bytes());
    ASSERT_NE(s, nullptr);
    std::vector<std::string> lines;
    cd_lister l = {list_dir, list_file, &lines};
    cd_list(s, &l);
    EXPECT_EQ(lines, (std::vector<std::string>{"file 2048 PARTS.BIN", "dir PARTS.BIN", "file 2 PARTS.BIN\\INNER"}));
    EXPECT_EQ(cd_total_bytes(s), 2050u);
    cd_close(s);
}

// Made by genisoimage: DEEP\L01\...\L18, each level with one file; the root is depth 0.
TEST(iso_copy, folders_below_depth_16_are_neither_counted_nor_copied) {
    cd_source *s = cd_open(testdata("volume.iso").c_str());
    ASSERT_NE(s, nullptr);
    std::string dest = temp_dir("deep");
    ASSERT_EQ(cd_copy_all(s, dest.c_str(), NULL), 1);
    std::string d = dest + "\\DEEP";
    for (int i = 1; i <= 15; i++) {
        char part[8];
        snprintf(part, sizeof part, "\\L%02d", i);
        d += part;
    }
    EXPECT_EQ(slurp(d + "\\AT15.TXT"), "15");  // L15 is 16 levels down
    EXPECT_FALSE(exists(d + "\\L16"));
    cd_close(s);
}

// Records that name one file on disk (another version, other letter case, a trailing blank that
// Windows drops) would each write it, the last over the first, while the total counted them all:
// the first stands, in the total, the listing and the copy alike.
TEST(iso_copy, a_file_named_twice_is_written_once) {
    iso_builder b;
    uint32_t one = b.add_data("first"), two = b.add_data("second!");
    uint32_t root_len;
    uint32_t root = b.add_dir({iso_builder::file("TWICE.TXT;2", one, 5), iso_builder::file("TWICE.TXT;1", two, 7),
                               iso_builder::file("twice.txt;3", two, 7), iso_builder::file("TWICE.TXT ;1", two, 7),
                               iso_builder::file("OTHER.TXT;1", two, 7)},
                              &root_len);
    b.set_root(root, root_len);
    cd_source *s = open_bytes(b.bytes());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(cd_total_bytes(s), 12u);
    std::vector<std::string> lines;
    cd_lister l = {list_dir, list_file, &lines};
    cd_list(s, &l);
    EXPECT_EQ(lines, (std::vector<std::string>{"file 5 TWICE.TXT", "file 7 OTHER.TXT"}));
    std::string dest = temp_dir("twice");
    ASSERT_EQ(cd_copy_all(s, dest.c_str(), NULL), 1);
    EXPECT_EQ(slurp(dest + "\\TWICE.TXT"), "first");
    EXPECT_EQ(slurp(dest + "\\OTHER.TXT"), "second!");
    cd_close(s);
}
