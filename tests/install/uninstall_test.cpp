#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "fault_injector.h"
#include "install/install.h"
#include "install/uninstall.h"
#include "support.h"
#include "util/state.h"

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

// The registry entry and both shortcuts as an install into folder leaves them.
static void make_registration(const std::string &folder) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, UNINSTALL_KEY, 0, NULL, 0, KEY_WRITE, NULL, &k, NULL), ERROR_SUCCESS);
    RegSetValueExA(k, "InstallLocation", 0, REG_SZ, (const BYTE *)folder.c_str(), (DWORD)folder.size() + 1);
    RegCloseKey(k);
    char startmenu[PATH_TEXT], desktop[PATH_TEXT];
    shortcut_paths(startmenu, desktop);
    ASSERT_TRUE(startmenu[0] && desktop[0]);
    std::string exe = folder + "\\drovenhelm.exe";
    CoInitialize(NULL);
    make_link(startmenu, exe.c_str(), folder.c_str());
    make_link(desktop, exe.c_str(), folder.c_str());
    CoUninitialize();
    ASSERT_TRUE(exists(startmenu) && exists(desktop));
}

static bool entry_exists(void) {
    HKEY k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, UNINSTALL_KEY, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

static void expect_registration(bool kept) {
    EXPECT_EQ(entry_exists(), kept);
    char startmenu[PATH_TEXT], desktop[PATH_TEXT];
    shortcut_paths(startmenu, desktop);
    EXPECT_EQ(exists(startmenu), kept);
    EXPECT_EQ(exists(desktop), kept);
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
        {"only the executable", {"drovenhelm.exe", "uninstall.exe"}, "abs", 1, {}},
        {"an early install's game folder", {"drovenhelm.exe", "game\\cd\\TITLE.FLI", "game\\cdaudio\\x.wav"}, "abs", 1,
         {}},
        {"the executable beside someone else's game folder", {"drovenhelm.exe", "game\\save\\slot1.sav"}, "abs", 0,
         {"drovenhelm.exe", "game\\save\\slot1.sav"}},
        {"a file of the user's", {"drovenhelm.exe", "game\\hd\\CD.DAT", "notes.txt"}, "abs", 1, {"notes.txt"}},
        {"a Downloads folder", {"game\\readme.txt", "setup.log", "uninstall.exe", "drovenhelm.log"}, "abs", 0,
         {"game\\readme.txt", "setup.log", "uninstall.exe", "drovenhelm.log"}},
        {"CD.DAT in the wrong place", {"game\\CD.DAT", "setup.log"}, "abs", 0, {"game\\CD.DAT", "setup.log"}},
        {"named relative to the current folder", {"game\\hd\\CD.DAT", "setup.log"}, "rel", 1, {}},
        {"named with a trailing backslash", {"drovenhelm.exe", "game\\hd\\CD.DAT"}, "slash", 1, {}},
    };
    char was[MAX_PATH];
    GetCurrentDirectoryA(sizeof was, was);
    for (const layout_case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string parent = temp_dir("uninst"), folder = parent + "\\Drovenhelm PC";
        for (const char *f : c.files) make_file(folder + "\\" + f);
        make_registration(folder);
        std::string given = folder;
        if (std::string(c.given) == "rel") {
            SetCurrentDirectoryA(parent.c_str());
            given = "Drovenhelm PC";
        } else if (std::string(c.given) == "slash") {
            given += "\\";
        }
        EXPECT_EQ(do_uninstall(given.c_str()), c.ours ? UNINSTALL_REMOVED : UNINSTALL_NOT_FOUND);
        SetCurrentDirectoryA(was);
        expect_registration(!c.ours);
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
    make_registration(here);
    EXPECT_EQ(do_uninstall(""), UNINSTALL_NOT_FOUND);
    SetCurrentDirectoryA(was);
    expect_registration(true);
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
    EXPECT_EQ(do_uninstall(folder.c_str()), UNINSTALL_REMOVED);
    ends.join();
    EXPECT_FALSE(exists(folder));
}

// Every removal is a disposition on the handle that showed where the object lies: no file or
// folder of the installation is deleted by its name, which a planted or swapped-in link would
// redirect.
TEST(do_uninstall, removes_through_the_checked_handle_only) {
    std::string folder = temp_dir("uninst") + "\\Drovenhelm PC";
    for (const char *f : {"drovenhelm.exe", "uninstall.exe", "setup.log", "game\\hd\\CD.DAT", "game\\hd\\saves\\a.sav",
                          "game\\cd\\VIDEO\\INTRO.AVI", "game\\cdaudio\\track02.wav"})
        make_file(folder + "\\" + f, FILE_ATTRIBUTE_READONLY);
    make_registration(folder);
    faults().arm(0);
    uninstall_result r = do_uninstall(folder.c_str());
    faults().disarm();
    EXPECT_EQ(r, UNINSTALL_REMOVED);
    EXPECT_FALSE(exists(folder));
    expect_registration(false);
    int dispositions = 0;
    for (const fault_call &c : faults().log) {
        EXPECT_NE(std::string(c.name), "DeleteFileA") << c.path;
        EXPECT_NE(std::string(c.name), "RemoveDirectoryA") << c.path;
        dispositions += std::string(c.name) == "SetFileInformationByHandle";
    }
    EXPECT_GE(dispositions, 15);  // 7 files, 7 folders, 2 shortcuts; read-only files twice more
}

// The registry entry and the shortcuts have one name for every installation: only those that name
// this folder go. What cannot be read is left, and counts as what remains.
TEST(do_uninstall, leaves_another_installations_registration) {
    struct registration_case {
        const char *name;
        const char *registered;  // the folder the entry and the shortcuts name: "this", "THIS" or "other"
        bool unreadable_links;   // shortcut files that are no shortcuts
        uninstall_result result;
        bool kept;
    } cases[] = {
        {"this installation's", "this", false, UNINSTALL_REMOVED, false},
        {"another installation's", "other", false, UNINSTALL_REMOVED, true},
        {"this one's, named in other letters", "THIS", false, UNINSTALL_REMOVED, false},
        {"shortcuts that cannot be read", "this", true, UNINSTALL_REMAINS, true},
    };
    for (const registration_case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string base = temp_dir("uninst"), folder = base + "\\DH", other = base + "\\U4";
        for (const char *f : {"drovenhelm.exe", "game\\hd\\CD.DAT"}) {
            make_file(folder + "\\" + f);
            make_file(other + "\\" + f);
        }
        std::string named = c.registered == std::string("other") ? other : folder;
        if (c.registered == std::string("THIS")) named = base + "\\dh";
        make_registration(named);
        char startmenu[PATH_TEXT], desktop[PATH_TEXT];
        shortcut_paths(startmenu, desktop);
        if (c.unreadable_links) {
            spit(startmenu, "not a shortcut");
            spit(desktop, "not a shortcut");
        }
        EXPECT_EQ(do_uninstall(folder.c_str()), c.result);
        EXPECT_FALSE(exists(folder + "\\game"));
        EXPECT_EQ(exists(startmenu), c.kept);
        EXPECT_EQ(exists(desktop), c.kept);
        EXPECT_EQ(entry_exists(), c.kept && !c.unreadable_links);
        EXPECT_TRUE(exists(other + "\\game\\hd\\CD.DAT"));
        DeleteFileA(startmenu);
        DeleteFileA(desktop);
        RegDeleteKeyA(HKEY_CURRENT_USER, UNINSTALL_KEY);
    }
}

// While the game runs nothing goes; without boxes there is no one to ask to close it.
TEST(uninstall_stage2, removes_nothing_while_the_game_runs) {
    std::string folder = temp_dir("uninst") + "\\Drovenhelm PC";
    make_file(folder + "\\drovenhelm.exe");
    make_file(folder + "\\game\\hd\\CD.DAT");
    make_registration(folder);
    // Held as a running program's file is: readable, never writable.
    HANDLE running = CreateFileA((folder + "\\drovenhelm.exe").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(running, INVALID_HANDLE_VALUE);
    EXPECT_EQ(game_running(folder.c_str()), 1);
    quiet = 1;
    EXPECT_EQ(uninstall_stage2(folder.c_str()), 1);
    CloseHandle(running);
    EXPECT_TRUE(exists(folder + "\\game\\hd\\CD.DAT"));
    expect_registration(true);
    EXPECT_EQ(game_running(folder.c_str()), 0);
    EXPECT_EQ(uninstall_stage2(folder.c_str()), 0);
    quiet = 0;
    EXPECT_FALSE(exists(folder));
    expect_registration(false);
}

// One uninstall at a time: a stage 1 that finds another running changes nothing, not even the
// temporary copy.
TEST(uninstall_stage1, changes_nothing_while_another_uninstall_runs) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string copy = std::string(temp) + "drovenhelm_uninstall.exe";
    DeleteFileA(copy.c_str());
    HANDLE held = CreateEventA(NULL, TRUE, FALSE, NULL), release = CreateEventA(NULL, TRUE, FALSE, NULL);
    std::thread other([&] {
        HANDLE lock = CreateMutexA(NULL, TRUE, "Local\\Drovenhelm_uninstall");
        SetEvent(held);
        WaitForSingleObject(release, INFINITE);
        ReleaseMutex(lock);
        CloseHandle(lock);
    });
    WaitForSingleObject(held, INFINITE);
    quiet = 1;
    EXPECT_EQ(uninstall_stage1(), 1);
    quiet = 0;
    SetEvent(release);
    other.join();
    EXPECT_FALSE(exists(copy));
    CloseHandle(held);
    CloseHandle(release);
}
