#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "install/install.h"
#include "support.h"

// This test program carries no game executable, unlike the setup.
TEST(do_install, refuses_a_setup_without_the_game_executable) {
    EXPECT_EQ(prebuilt_available(), 0);
    log_capture log;
    setup_opts o = {};
    snprintf(o.cd, sizeof o.cd, "%s", testdata("gamecd\\gamecd.iso").c_str());
    std::string dir = temp_dir("nogame") + "\\install";
    snprintf(o.dir, sizeof o.dir, "%s", dir.c_str());
    EXPECT_EQ(do_install(&o, NULL, NULL), 0);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Install to " + dir,
                                                     "ERROR: this setup does not contain the game executable"}));
    EXPECT_FALSE(exists(dir));
}

static bool has_icon(const std::string &exe) {
    HMODULE mod = LoadLibraryExA(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!mod) return false;
    bool found = FindResourceA(mod, MAKEINTRESOURCEA(1), RT_GROUP_ICON) && FindResourceA(mod, MAKEINTRESOURCEA(7), RT_ICON);
    FreeLibrary(mod);
    return found;
}

// The title picture followed by zeros up to size bytes (the decoder reads only the first frame).
static void padded_title(const std::string &path, uint64_t size) {
    spit(path, slurp(testdata("gamecd\\tree\\TITLE.FLI")));
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)size;
    SetFilePointerEx(h, at, NULL, FILE_BEGIN);
    SetEndOfFile(h);
    CloseHandle(h);
}

TEST(install_game_icon, title_picture_from_the_copied_cd) {
    struct {
        const char *name;
        void (*arrange)(const std::string &title);
        bool icon;
        std::vector<std::string> log;
    } cases[] = {
        {"title animation", [](const std::string &t) { spit(t, slurp(testdata("gamecd\\tree\\TITLE.FLI"))); }, true, {}},
        {"no title picture", [](const std::string &) {}, false, {}},
        {"a folder of that name", [](const std::string &t) { CreateDirectoryA(t.c_str(), NULL); }, false, {}},
        {"64 MiB exactly", [](const std::string &t) { padded_title(t, ICON_PICTURE_MAX); }, true, {}},
        {"one byte over 64 MiB", [](const std::string &t) { padded_title(t, ICON_PICTURE_MAX + 1ull); }, false, {}},
        {"not a picture", [](const std::string &t) { spit(t, std::string(300, 'x')); }, false,
         {"ERROR: game emblem picture not understood"}},
    };
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string cd = temp_dir("iconcd"), exe = temp_dir("iconexe") + "\\drovenhelm.exe";
        ASSERT_TRUE(CopyFileA(self, exe.c_str(), FALSE));
        std::string original = slurp(exe);
        c.arrange(cd + "\\TITLE.FLI");
        log_capture log;
        install_game_icon(cd.c_str(), exe.c_str());
        EXPECT_EQ(log.lines(), c.log);
        EXPECT_EQ(has_icon(exe), c.icon);
        if (!c.icon) {
            EXPECT_TRUE(slurp(exe) == original);
        }
        DeleteFileA((cd + "\\TITLE.FLI").c_str());
    }
}
