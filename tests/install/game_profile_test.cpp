#include <gtest/gtest.h>

#include <algorithm>

#include "install/game_install.h"
#include "support.h"

static std::vector<std::string> names_in(const std::string &dir) {
    std::vector<std::string> v;
    WIN32_FIND_DATAA f;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &f);
    if (h == INVALID_HANDLE_VALUE) return v;
    do
        if (strcmp(f.cFileName, ".") && strcmp(f.cFileName, "..")) v.push_back(f.cFileName);
    while (FindNextFileA(h, &f));
    FindClose(h);
    std::sort(v.begin(), v.end());
    return v;
}

TEST(game_is_cd, needs_both_signature_files) {
    struct {
        const char *why;
        std::vector<const char *> files;
        int result;
    } cases[] = {
        {"both", {"SKIPIT.EXE", "BDROV1DK.AVI"}, 1},
        {"any letter case", {"skipit.exe", "Bdrov1dk.Avi"}, 1},
        {"launcher only", {"SKIPIT.EXE"}, 0},
        {"video only", {"BDROV1DK.AVI"}, 0},
        {"in a subfolder", {"SUB\\SKIPIT.EXE", "SUB\\BDROV1DK.AVI"}, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.why);
        std::string d = temp_dir("sig");
        CreateDirectoryA((d + "\\SUB").c_str(), NULL);
        for (const char *f : c.files) spit(d + "\\" + f, "x");
        cd_source *s = cd_open(d.c_str());
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(game_is_cd(s), c.result);
        cd_close(s);
    }
    EXPECT_EQ(game_is_cd(NULL), 0);
}

TEST(game_install_files, root_files_less_videos_plus_cd_dat) {
    std::string cd = temp_dir("gcd"), hd = temp_dir("ghd") + "\\game\\hd";
    for (const char *f : {"SKIPIT.EXE", "INTRO.AVI", "intro2.avi", "Intro3.Avi", "README", "MOVIE.AVI.BAK"})
        spit(cd + "\\" + f, f);
    spit(cd + "\\LOCKED.DAT", "ro");
    SetFileAttributesA((cd + "\\LOCKED.DAT").c_str(), FILE_ATTRIBUTE_READONLY);
    spit(cd + "\\HIDDEN.DAT", "h");
    SetFileAttributesA((cd + "\\HIDDEN.DAT").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    CreateDirectoryA((cd + "\\DATA").c_str(), NULL);
    spit(cd + "\\DATA\\LEVEL.DAT", "l");

    ASSERT_EQ(game_install_files(cd.c_str(), hd.c_str()), 1);
    EXPECT_EQ(names_in(hd), (std::vector<std::string>{"CD.DAT", "HIDDEN.DAT", "LOCKED.DAT", "MOVIE.AVI.BAK",
                                                      "README", "SKIPIT.EXE"}));
    EXPECT_EQ(slurp(hd + "\\CD.DAT"), std::string("\x44\x3A\x5C\x0D\x0A", 5));
    EXPECT_EQ(slurp(hd + "\\LOCKED.DAT"), "ro");
    for (const char *f : {"LOCKED.DAT", "HIDDEN.DAT"})
        EXPECT_EQ(GetFileAttributesA((hd + "\\" + f).c_str()) &
                      (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
                  0u)
            << f;
}

TEST(game_install_files, failures) {
    log_capture log;
    std::string gone = temp_dir("gnone") + "\\missing";
    EXPECT_EQ(game_install_files(gone.c_str(), (gone + "hd").c_str()), 0);
    std::string cd = temp_dir("gcd2"), hd = temp_dir("ghd2");
    spit(cd + "\\A.DAT", "a");
    CreateDirectoryA((hd + "\\A.DAT").c_str(), NULL);  // a folder stands where the file goes
    EXPECT_EQ(game_install_files(cd.c_str(), hd.c_str()), 0);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"ERROR: the copied CD is empty",
                                                     "cannot write " + hd + "\\A.DAT", "reason: Access denied.",
                                                     "ERROR: cannot write " + hd + "\\A.DAT"}));
    EXPECT_FALSE(exists(hd + "\\CD.DAT"));
}
