#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "util/paths.h"

// A join that does not fit is refused: a cut path names another file.
TEST(path_join, joins_once_and_refuses_what_does_not_fit) {
    struct join_case {
        const char *folder, *name;
        size_t size;
        const char *out;  // null: refused
    } cases[] = {
        {"C:\\Games", "game", 64, "C:\\Games\\game"},
        {"C:\\", "game", 64, "C:\\game"},
        {"C:/x/", "game", 64, "C:/x/game"},
        {"", "game", 64, "game"},
        {"C:\\Games", "game", 14, "C:\\Games\\game"},  // 13 characters and the terminator
        {"C:\\Games", "game", 13, nullptr},
    };
    for (const join_case &c : cases) {
        SCOPED_TRACE(std::string(c.folder) + " + " + c.name);
        char out[64];
        EXPECT_EQ(path_join(out, c.size, c.folder, c.name), c.out != nullptr);
        EXPECT_STREQ(out, c.out ? c.out : "");  // never a cut path
    }
}

TEST(path_parent, keeps_a_roots_separator) {
    struct parent_case {
        const char *path, *parent;  // null: none
    } cases[] = {
        {"C:\\Games\\DH", "C:\\Games"}, {"C:\\DH", "C:\\"}, {"\\DH", "\\"}, {"a/b", "a"},
        {"C:\\", nullptr}, {"DH", nullptr}, {"C:", nullptr},
    };
    for (const parent_case &c : cases) {
        SCOPED_TRACE(c.path);
        char out[PATH_TEXT];
        EXPECT_EQ(path_parent(out, sizeof out, c.path), c.parent != nullptr);
        if (c.parent) {
            EXPECT_STREQ(out, c.parent);
        }
    }
}

TEST(path_with_extension, replaces_the_names_own_extension) {
    char out[PATH_TEXT];
    ASSERT_TRUE(path_with_extension(out, sizeof out, "C:\\cd\\game.ccd", ".img"));
    EXPECT_STREQ(out, "C:\\cd\\game.img");
    ASSERT_TRUE(path_with_extension(out, sizeof out, "C:\\cd.v2\\game", ".img"));
    EXPECT_STREQ(out, "C:\\cd.v2\\game.img");
    EXPECT_FALSE(path_with_extension(out, 14, "C:\\cd\\game.ccd", ".img"));
    EXPECT_STREQ(out, "");
}

TEST(path_same, folders_compare_as_the_file_system_does) {
    EXPECT_TRUE(path_same("C:\\Games\\DH", "c:\\games\\dh\\"));
    EXPECT_TRUE(path_same("C:\\", "C:"));
    EXPECT_FALSE(path_same("C:\\Games\\DH", "C:\\Games\\DH2"));
    EXPECT_TRUE(path_inside("C:\\Games\\DH\\game", "C:\\games\\dh"));
    EXPECT_TRUE(path_inside("C:\\x", "C:\\"));
    EXPECT_FALSE(path_inside("C:\\Games\\DH2", "C:\\Games\\DH"));
    EXPECT_FALSE(path_inside("C:\\Games\\DH", "C:\\Games\\DH"));
    // Only ASCII letters fold: the bytes of a UTF-8 character are never folded one by one, as an
    // 8-bit locale's tables would fold 0xC3 (the first byte of "é") into 0xE3.
    EXPECT_FALSE(path_same("C:\\\xC3\xA9", "C:\\\xE3\xA9"));
    EXPECT_FALSE(path_same("C:\\\xC3\xA9", "C:\\\xC3\x89"));
    EXPECT_TRUE(path_same("C:\\Spiele\\\xC5\x81\xC3\xB3" "d\xC5\xBA", "c:\\SPIELE\\\xC5\x81\xC3\xB3" "D\xC5\xBA"));
}

// The ANSI functions stop a text that does not fit their limit at its last whole character, without
// a terminator: within 3 bytes of the limit a text cannot be told from a cut one.
TEST(ansi_text_whole, a_text_that_may_be_cut_is_refused) {
    struct {
        const char *why;
        std::string buf;  // as the function left it in a zeroed buffer of 16 bytes
        bool whole;
    } cases[] = {
        {"4 bytes to spare", "C:\\Games", true},
        {"3 bytes to spare", "C:\\Games\\", false},
        {"a two-byte character that fitted, one that did not", "C:\\\xC5\x81\xC5\x81\xC5\x81\xC5\x81", false},
        {"no terminator within the limit", std::string(12, 'x'), false},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.why);
        char buf[16] = {};
        memcpy(buf, c.buf.data(), c.buf.size());
        EXPECT_EQ(ansi_text_whole(buf, 12) != 0, c.whole);
    }
}
