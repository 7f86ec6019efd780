#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "import_swap.h"
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

// A disk that fills during the late stages: the resource update cuts the game executable short, or
// the uninstaller's copy stops halfway. The replacements reach the real calls through the swaps.
static struct {
    std::string cut_exe;          // the file the failing update leaves cut short, or none
    bool fail_next_write;         // set by the cut when the game executable's second write fails too
    bool fail_rewrite;
    bool cut_uninstaller;
    HANDLE write_cut;                // the uninstaller's copy, whose first write stops halfway
    std::string refuse_second_open;  // the file whose second opening for writing fails, or none
    int opens;
    decltype(&EndUpdateResourceA) end_update;
    decltype(&WriteFile) write;
    decltype(&CreateFileA) create;
} late;

static void cut_in_half(const std::string &path) {
    std::string bytes = slurp(path);
    spit(path, bytes.substr(0, bytes.size() / 2));
}
static BOOL WINAPI end_update_cutting(HANDLE h, BOOL discard) {
    if (late.cut_exe.empty()) return late.end_update(h, discard);
    late.end_update(h, TRUE);
    cut_in_half(late.cut_exe);
    late.fail_next_write = late.fail_rewrite;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}
static BOOL WINAPI write_failing_once(HANDLE h, LPCVOID data, DWORD n, LPDWORD put, LPOVERLAPPED o) {
    if (h == late.write_cut) {
        late.write_cut = NULL;
        late.write(h, data, n / 2, put, o);
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    if (!late.fail_next_write) return late.write(h, data, n, put, o);
    late.fail_next_write = false;
    *put = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}
// The uninstaller's copy: half of it written, then the disk is full. The program is written again
// only after an update that began: a second opening for writing fails.
static HANDLE WINAPI create_failing(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD how,
                                    DWORD flags, HANDLE tmpl) {
    HANDLE h = late.create(path, access, share, sa, how, flags, tmpl);
    if (!(access & GENERIC_WRITE) || h == INVALID_HANDLE_VALUE) return h;
    if (late.cut_uninstaller && strstr(path, "uninstall.exe")) late.write_cut = h;
    if (_stricmp(path, late.refuse_second_open.c_str()) == 0 && ++late.opens == 2) {
        CloseHandle(h);
        SetLastError(ERROR_DISK_FULL);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

TEST(do_install, a_late_full_disk_leaves_no_cut_program) {
    std::string carried = carried_game_exe();
    struct {
        const char *name;
        bool cut_icon, fail_rewrite, cut_uninstaller, bad_picture;
        int result;
        bool game_exe, uninstaller;
        std::vector<std::string> last_lines;  // "%s" stands for the install folder
    } cases[] = {
        {"the icon update cuts the program", true, false, false, false, 1, true, true,
         {"ERROR: cannot write the game executable's icon", "Done."}},
        {"and the program cannot be written again", true, true, false, false, 0, false, false,
         {"ERROR: cannot write the game executable's icon", "write failed: %s\\drovenhelm.exe",
          "reason: Disk full.", "ERROR: cannot write %s\\drovenhelm.exe"}},
        {"the uninstaller's copy is cut short", false, false, true, false, 1, true, false,
         {"cannot write %s\\uninstall.exe", "Done."}},
        // Nothing was changed: the program is not written again (here that would fail).
        {"the picture is no picture", false, false, false, true, 1, true, true,
         {"ERROR: game emblem picture not understood", "Done."}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        setup_opts o = {};
        std::string cd = temp_dir("latecd");  // the smallest game CD, with the title animation
        spit(cd + "\\SKIPIT.EXE", "MZ");
        spit(cd + "\\BDROV1DK.AVI", "RIFF");
        spit(cd + "\\TITLE.FLI", c.bad_picture ? std::string("not a picture") : slurp(testdata("gamecd\\tree\\TITLE.FLI")));
        snprintf(o.cd, sizeof o.cd, "%s", cd.c_str());
        snprintf(o.dir, sizeof o.dir, "%s", (temp_dir("late") + "\\Drovenhelm").c_str());
        std::string dir = o.dir, exe = dir + "\\drovenhelm.exe";
        late.cut_exe = c.cut_icon ? exe : "";
        late.fail_rewrite = c.fail_rewrite;
        late.fail_next_write = false;
        late.cut_uninstaller = c.cut_uninstaller;
        late.write_cut = NULL;
        late.refuse_second_open = c.bad_picture ? exe : "";
        late.opens = 0;
        log_capture log;
        int result;
        {
            import_swap end("kernel32.dll", "EndUpdateResourceA", (void *)end_update_cutting);
            import_swap write("kernel32.dll", "WriteFile", (void *)write_failing_once);
            import_swap create("kernel32.dll", "CreateFileA", (void *)create_failing);
            ASSERT_TRUE(end.ok() && write.ok() && create.ok());
            late.end_update = (decltype(late.end_update))end.original;
            late.write = (decltype(late.write))write.original;
            late.create = (decltype(late.create))create.original;
            result = do_install(&o, NULL, NULL);
        }
        EXPECT_EQ(result, c.result);
        std::vector<std::string> lines = log.lines(), want;
        for (const std::string &l : c.last_lines) {
            size_t at = l.find("%s");
            want.push_back(at == std::string::npos ? l : l.substr(0, at) + dir + l.substr(at + 2));
        }
        ASSERT_GE(lines.size(), want.size());
        EXPECT_EQ(std::vector<std::string>(lines.end() - want.size(), lines.end()), want);
        EXPECT_EQ(exists(exe), c.game_exe);
        if (c.game_exe && c.cut_icon) {
            EXPECT_TRUE(slurp(exe) == carried);  // as carried, without the icon
        }
        EXPECT_EQ(exists(dir + "\\uninstall.exe"), c.uninstaller);
    }
}
