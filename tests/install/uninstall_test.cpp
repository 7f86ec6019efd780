#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "install/install.h"
#include "install/uninstall.h"
#include "support.h"

static DWORD attributes(const std::string &path) { return GetFileAttributesA(path.c_str()); }

static void make_file(const std::string &path, DWORD attr = 0) {
    for (size_t i = 3; i < path.size(); i++)
        if (path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), NULL);
    spit(path, "data");
    if (attr) SetFileAttributesA(path.c_str(), attr);
}

// Every kind of entry the game folder may hold, from the CD's read-only files to the saved games.
TEST(delete_tree, removes_every_kind_of_entry) {
    struct entry_case {
        const char *name;
        DWORD attr;  // 0: a plain file; FILE_ATTRIBUTE_DIRECTORY: an empty folder
    } entries[] = {
        {"plain.dat", 0},
        {"readonly.dat", FILE_ATTRIBUTE_READONLY},
        {"hidden.dat", FILE_ATTRIBUTE_HIDDEN},
        {"system.dat", FILE_ATTRIBUTE_SYSTEM},
        {"all-three.dat", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {"..x", 0},
        {"..folder\\inside.dat", FILE_ATTRIBUTE_READONLY},
        {"cd\\a\\b\\c\\deep.dat", FILE_ATTRIBUTE_READONLY},
        {"empty", FILE_ATTRIBUTE_DIRECTORY},
    };
    std::string game = temp_dir("deltree") + "\\game";
    for (const entry_case &e : entries) {
        std::string p = game + "\\" + e.name;
        if (e.attr == FILE_ATTRIBUTE_DIRECTORY) {
            make_file(p + "\\x");
            DeleteFileA((p + "\\x").c_str());
        } else {
            make_file(p, e.attr);
        }
        ASSERT_NE(attributes(p), INVALID_FILE_ATTRIBUTES) << e.name;
        if (e.attr && e.attr != FILE_ATTRIBUTE_DIRECTORY) {
            ASSERT_EQ(attributes(p) & e.attr, e.attr) << e.name;
        }
    }
    EXPECT_NE(delete_tree(game.c_str()), 0);
    EXPECT_EQ(attributes(game), INVALID_FILE_ATTRIBUTES);
}

TEST(delete_tree, a_file_in_use_stays_with_its_attributes) {
    std::string game = temp_dir("deltree") + "\\game";
    std::string used = game + "\\save\\slot1.sav", other = game + "\\save\\slot2.sav";
    make_file(used, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    make_file(other, FILE_ATTRIBUTE_READONLY);
    HANDLE h = CreateFileA(used.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(delete_tree(game.c_str()), 0);
    CloseHandle(h);
    EXPECT_EQ(attributes(other), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes(used) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_NE(delete_tree(game.c_str()), 0);
}

TEST(delete_tree, a_missing_folder_is_not_there) {
    std::string gone = temp_dir("deltree") + "\\missing";
    EXPECT_EQ(delete_tree(gone.c_str()), 0);
}

static void make_registration(void) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, UNINSTALL_KEY, 0, NULL, 0, KEY_WRITE, NULL, &k, NULL), ERROR_SUCCESS);
    RegCloseKey(k);
    char startmenu[PATH_TEXT], desktop[PATH_TEXT];
    shortcut_paths(startmenu, desktop);
    ASSERT_TRUE(startmenu[0] && desktop[0]);
    spit(startmenu, "link");
    spit(desktop, "link");
    ASSERT_TRUE(exists(startmenu) && exists(desktop));
}

static void expect_registration_kept(void) {
    HKEY k;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, UNINSTALL_KEY, 0, KEY_READ, &k), ERROR_SUCCESS);
    RegCloseKey(k);
    char startmenu[PATH_TEXT], desktop[PATH_TEXT];
    shortcut_paths(startmenu, desktop);
    EXPECT_TRUE(exists(startmenu));
    EXPECT_TRUE(exists(desktop));
}

static void expect_registration_gone(void) {
    HKEY k;
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, UNINSTALL_KEY, 0, KEY_READ, &k), ERROR_SUCCESS);
    char startmenu[PATH_TEXT], desktop[PATH_TEXT];
    shortcut_paths(startmenu, desktop);
    EXPECT_FALSE(exists(startmenu));
    EXPECT_FALSE(exists(desktop));
}

// Which folders count as our installation, and what is left of them. The shortcuts and the registry
// entry go with an installation, and stay when the folder holds none (they belong to one elsewhere).
TEST(do_uninstall, removes_only_an_installation) {
    struct layout_case {
        const char *name;
        std::vector<const char *> files;  // made in the folder
        const char *given;                // how the folder is named: "abs", "rel", "slash"
        int ours;                         // holds an installation: do_uninstall's result
        std::vector<const char *> left;   // what stays; the folder itself is gone when this is empty
    } cases[] = {
        {"installed", {"game\\hd\\CD.DAT", "game\\cd\\TITLE.FLI", "drovenhelm.exe", "uninstall.exe",
                       "drovenhelm_pc.ini", "drovenhelm.log", "setup.log"}, "abs", 1, {}},
        {"only the hard-disk folder", {"game\\hd\\CD.DAT", "game\\save\\slot1.sav"}, "abs", 1, {}},
        {"only the executable", {"drovenhelm.exe", "game\\save\\slot1.sav"}, "abs", 1, {}},
        {"a file of the user's", {"drovenhelm.exe", "game\\hd\\CD.DAT", "notes.txt"}, "abs", 1, {"notes.txt"}},
        {"a Downloads folder", {"game\\readme.txt", "setup.log", "uninstall.exe", "drovenhelm.log"}, "abs", 0,
         {"game\\readme.txt", "setup.log", "uninstall.exe", "drovenhelm.log"}},
        {"CD.DAT in the wrong place", {"game\\CD.DAT", "setup.log"}, "abs", 0, {"game\\CD.DAT", "setup.log"}},
        {"named relative to the current folder", {"game\\hd\\CD.DAT", "setup.log"}, "rel", 1, {}},
        {"named with a trailing backslash", {"drovenhelm.exe", "game\\x"}, "slash", 1, {}},
    };
    char was[MAX_PATH];
    GetCurrentDirectoryA(sizeof was, was);
    for (const layout_case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string parent = temp_dir("uninst"), folder = parent + "\\Drovenhelm PC";
        for (const char *f : c.files) make_file(folder + "\\" + f);
        make_registration();
        std::string given = folder;
        if (std::string(c.given) == "rel") {
            SetCurrentDirectoryA(parent.c_str());
            given = "Drovenhelm PC";
        } else if (std::string(c.given) == "slash") {
            given += "\\";
        }
        EXPECT_EQ(do_uninstall(given.c_str()), c.ours);
        SetCurrentDirectoryA(was);
        if (c.ours)
            expect_registration_gone();
        else
            expect_registration_kept();
        for (const char *f : c.files) {
            bool stays = false;
            for (const char *l : c.left) stays = stays || std::string(l) == f;
            EXPECT_EQ(exists(folder + "\\" + f), stays) << f;
        }
        EXPECT_EQ(exists(folder), !c.left.empty());
    }
}

TEST(do_uninstall, an_empty_folder_text_removes_nothing) {
    // An empty folder must not turn into "\game" on the current drive, or into the current folder.
    std::string here = temp_dir("uninst");
    make_file(here + "\\drovenhelm.exe");
    make_file(here + "\\game\\hd\\CD.DAT");
    char was[MAX_PATH];
    GetCurrentDirectoryA(sizeof was, was);
    SetCurrentDirectoryA(here.c_str());
    make_registration();
    EXPECT_EQ(do_uninstall(""), 0);
    SetCurrentDirectoryA(was);
    expect_registration_kept();
    EXPECT_TRUE(exists(here + "\\drovenhelm.exe"));
    EXPECT_TRUE(exists(here + "\\game\\hd\\CD.DAT"));
}

TEST(do_uninstall, waits_for_stage_1_to_let_go_of_its_file) {
    std::string folder = temp_dir("uninst") + "\\Drovenhelm PC";
    make_file(folder + "\\drovenhelm.exe");
    make_file(folder + "\\uninstall.exe");
    // Held like a running program's file, for a second.
    HANDLE h =
        CreateFileA((folder + "\\uninstall.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::thread ends([h] {
        Sleep(1000);
        CloseHandle(h);
    });
    EXPECT_EQ(do_uninstall(folder.c_str()), 1);
    ends.join();
    EXPECT_FALSE(exists(folder));
}
