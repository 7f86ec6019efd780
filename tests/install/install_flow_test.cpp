#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/install.h"
#include "support.h"

struct progress_trace {
    std::vector<uint64_t> done, expected;
};

static void trace(uint64_t done, uint64_t expected, void *user) {
    progress_trace *t = (progress_trace *)user;
    t->done.push_back(done);
    t->expected.push_back(expected);
}

// This program carries the game executable like the setup does.
TEST(do_install, progress_has_one_total_and_only_rises) {
    ASSERT_EQ(prebuilt_available(), 1);
    struct {
        const char *source;
        int audio_tracks;
    } cases[] = {
        {"gamecd\\gamecd.iso", 0},
        {"gamecd\\tree", 0},
        {"gamecd\\gamecd.cue", 2},
        {"gamecd\\gamecd.nrg", 2},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.source);
        setup_opts o = {};
        snprintf(o.cd, sizeof o.cd, "%s", testdata(c.source).c_str());
        snprintf(o.dir, sizeof o.dir, "%s", (temp_dir("flow") + "\\Drovenhelm").c_str());
        progress_trace t;
        log_capture log;
        ASSERT_EQ(do_install(&o, trace, &t), 1);
        ASSERT_FALSE(t.done.empty());
        for (size_t i = 0; i < t.done.size(); i++) EXPECT_EQ(t.expected[i], t.expected[0]);
        for (size_t i = 1; i < t.done.size(); i++) EXPECT_GE(t.done[i], t.done[i - 1]);
        // The WAV headers are written but not counted.
        EXPECT_EQ(t.done.back(), t.expected[0] - 44u * c.audio_tracks);
        EXPECT_EQ(log.lines().back(), "Done.");
    }
}

static std::string carried_game_exe() {
    HRSRC r = FindResourceA(NULL, "GAMEEXE", RT_RCDATA);
    HGLOBAL g = r ? LoadResource(NULL, r) : NULL;
    const char *p = g ? (const char *)LockResource(g) : NULL;
    return p ? std::string(p, SizeofResource(NULL, r)) : std::string();
}

static std::vector<std::string> icon_ids(const std::string &exe) {
    std::vector<std::string> ids;
    HMODULE mod = LoadLibraryExA(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!mod) return {"not loadable"};
    for (int k = 1; k <= 8; k++)
        if (FindResourceExA(mod, RT_ICON, MAKEINTRESOURCEA(k), 0)) ids.push_back("icon " + std::to_string(k));
    if (FindResourceExA(mod, RT_GROUP_ICON, MAKEINTRESOURCEA(1), 0)) ids.push_back("group 1");
    FreeLibrary(mod);
    return ids;
}

// The smallest game CD: the two signature files, with or without the title animation.
TEST(do_install, icon_from_the_title_picture_or_none) {
    std::string carried = carried_game_exe();
    ASSERT_FALSE(carried.empty());
    for (bool title : {true, false}) {
        SCOPED_TRACE(title ? "with TITLE.FLI" : "without TITLE.FLI");
        std::string cd = temp_dir("mincd");
        spit(cd + "\\SKIPIT.EXE", "MZ");
        spit(cd + "\\BDROV1DK.AVI", "RIFF");
        if (title) spit(cd + "\\TITLE.FLI", slurp(testdata("gamecd\\tree\\TITLE.FLI")));
        setup_opts o = {};
        snprintf(o.cd, sizeof o.cd, "%s", cd.c_str());
        snprintf(o.dir, sizeof o.dir, "%s", (temp_dir("minflow") + "\\Drovenhelm").c_str());
        log_capture log;
        ASSERT_EQ(do_install(&o, NULL, NULL), 1);
        for (const std::string &line : log.lines()) EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;
        EXPECT_EQ(log.lines().back(), "Done.");
        std::string exe = std::string(o.dir) + "\\drovenhelm.exe";
        if (title) {
            EXPECT_EQ(icon_ids(exe), (std::vector<std::string>{"icon 1", "icon 2", "icon 3", "icon 4", "icon 5",
                                                               "icon 6", "icon 7", "group 1"}));
        } else {
            EXPECT_TRUE(slurp(exe) == carried);  // as carried: no icon of its own
        }
    }
}
