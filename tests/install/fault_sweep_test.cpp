// Every failure reported as a failure: one install of the smallest game CD of each form is run once
// to count its platform and allocator calls (platform calls alone for the cue sheet with audio
// files), then once for every call N with call N failing. Each run must end within seconds as a
// reported failure or as "Done." with the complete tree; the stages that never stop an install
// must end in "Done."; what is on disk is the reference install's
// bytes, or a prefix of them when the install failed; nothing is written outside the install folder
// and the registry key; and a fault-free install into the same folder then gives the whole tree.
// The uninstaller's stage 2 is swept the same way over an installation that holds a file of the
// user's: the file stays, nothing outside the folder, the registry key and the two shortcuts is
// touched, no file or folder is deleted by its name, and the final box says "has been removed." only
// when nothing of ours is left (a refused run leaves everything as it was).
// The test run takes every third N (FAULT_SWEEP_EVERY, default 3); FAULT_SWEEP_EVERY=1 runs them all.
#include <gtest/gtest.h>
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "fault_injector.h"
#include "import_swap.h"
#include "install/install.h"
#include "install/uninstall.h"
#include "util/state.h"
#include "support.h"

typedef std::map<std::string, std::string> tree_bytes;  // relative path: bytes ("/" for a folder)

static void read_tree(const std::string &root, const std::string &rel, tree_bytes *out) {
    WIN32_FIND_DATAA f;
    HANDLE h = FindFirstFileA((root + (rel.empty() ? "" : "\\" + rel) + "\\*").c_str(), &f);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = f.cFileName;
        if (name == "." || name == "..") continue;
        std::string r = rel.empty() ? name : rel + "\\" + name;
        if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*out)[r] = "/";
            read_tree(root, r, out);
        } else {
            (*out)[r] = slurp(root + "\\" + r);
        }
    } while (FindNextFileA(h, &f));
    FindClose(h);
}

static void remove_tree(const std::string &path) {
    WIN32_FIND_DATAA f;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &f);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = f.cFileName, p = path + "\\" + name;
            if (name == "." || name == "..") continue;
            if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(p);
            } else {
                SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(p.c_str());
            }
        } while (FindNextFileA(h, &f));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
}

static bool starts_with(const std::string &s, const std::string &prefix) {
    return s.size() >= prefix.size() && _strnicmp(s.c_str(), prefix.c_str(), prefix.size()) == 0;
}

// The last line of an install that failed: an ERROR line, whatever failed.
static bool failure_line(const std::string &line) { return starts_with(line, "ERROR: "); }

enum outcome { FAILED_REPORTED, DONE, OTHER };

struct run_result {
    int returned;
    std::vector<std::string> log;
    tree_bytes tree;
    std::vector<fault_call> calls;
    const char *failed;
    DWORD ms;
};

static run_result install(const std::string &cd, const std::string &dir, long fail_at, bool allocator = true) {
    setup_opts o = {};
    snprintf(o.cd, sizeof o.cd, "%s", cd.c_str());
    snprintf(o.dir, sizeof o.dir, "%s", dir.c_str());
    o.desktop = o.startmenu = 1;
    run_result r;
    log_capture log;
    DWORD start = GetTickCount();
    faults().arm(fail_at, allocator);
    // The setup has no handler: an exception escaping the install would end the program. Caught
    // here so that the sweep goes on and reports the run.
    try {
        r.returned = do_install(&o, NULL, NULL);
    } catch (...) {
        r.returned = -1;
        setup_log("(an exception escaped the install)");
    }
    faults().disarm();
    r.ms = GetTickCount() - start;
    r.failed = faults().failed;
    r.calls = faults().log;
    r.log = log.lines();
    read_tree(dir, "", &r.tree);
    return r;
}

// What may stand at a path of a run's tree, given the reference install: its bytes, or a prefix of
// them when the install failed. The game executable may also be the one carried without an icon
// (the icon stage failed), and the uninstaller may be missing (its copy failed).
static std::string check_tree(const run_result &r, outcome how, const tree_bytes &ref, const std::string &carried,
                              bool late) {
    for (auto &kv : r.tree) {
        auto it = ref.find(kv.first);
        if (it == ref.end()) return "unexpected " + kv.first;
        if (kv.second == "/" || it->second == "/") {
            if (kv.second != it->second) return "folder/file mixed up at " + kv.first;
            continue;
        }
        std::vector<std::string> allowed = {it->second};
        if (kv.first == "drovenhelm.exe") allowed.push_back(carried);
        bool ok = false;
        for (const std::string &want : allowed)
            ok = ok || kv.second == want || (how == FAILED_REPORTED && want.compare(0, kv.second.size(), kv.second) == 0);
        if (!ok) return "wrong bytes in " + kv.first + " (" + std::to_string(kv.second.size()) + " bytes)";
    }
    if (how == DONE) {
        for (auto &kv : ref) {
            if (r.tree.count(kv.first)) continue;
            if (late && kv.first == "uninstall.exe") continue;
            return "a finished install lacks " + kv.first;
        }
    }
    return "";
}

static std::string check_writes(const run_result &r, const std::string &dir) {
    for (const fault_call &c : r.calls) {
        if (!c.writes) continue;
        // Every removal goes through the handle that was checked, never by the name again.
        if (std::string(c.name) == "DeleteFileA" || std::string(c.name) == "RemoveDirectoryA")
            return std::string(c.name) + " by name on " + c.path;
        if (starts_with(c.path, dir + "\\") || _stricmp(c.path.c_str(), dir.c_str()) == 0) continue;
        if (c.path == std::string("registry:") + UNINSTALL_KEY) continue;
        // The folders that lead to the install folder are made too (they exist: creating them is no change).
        if (!strcmp(c.name, "CreateDirectoryA") && starts_with(dir, c.path + "\\")) continue;
        return std::string(c.name) + " on " + c.path;
    }
    return "";
}

// allocator false: platform calls alone fail (fault_injector::allocator).
static void sweep(const char *form, const char *source, bool allocator = true) {
    std::string cd = testdata(source);
    std::string base = temp_dir((std::string("sweep-") + form).c_str());
    std::string carried = carried_game_exe();
    ASSERT_FALSE(carried.empty());

    run_result ref = install(cd, base + "\\ref", 0, allocator);
    ASSERT_EQ(ref.returned, 1);
    ASSERT_EQ(ref.log.back(), "Done.");
    long count = (long)ref.calls.size();
    // The stages after the game executable is written never stop an install.
    long boundary = 0;
    for (long i = 0; i < count; i++)
        if (!strcmp(ref.calls[i].name, "CloseHandle") && _stricmp(ref.calls[i].path.c_str(), (base + "\\ref\\drovenhelm.exe").c_str()) == 0) {
            boundary = i + 1;
            break;
        }
    ASSERT_GT(boundary, 0);
    EXPECT_EQ(check_writes(ref, base + "\\ref"), "");

    long every = 3;
    if (const char *e = getenv("FAULT_SWEEP_EVERY")) every = atol(e) > 0 ? atol(e) : 1;
    std::map<std::string, int> table;
    int runs = 0;
    for (long n = 1; n <= count; n += every) {
        std::string dir = base + "\\n" + std::to_string(n);
        run_result r = install(cd, dir, n, allocator);
        runs++;
        outcome how = OTHER;
        std::string last = r.log.empty() ? "" : r.log.back();
        if (r.returned == 0 && failure_line(last)) how = FAILED_REPORTED;
        if (r.returned == 1 && last == "Done.") how = DONE;
        bool late = n > boundary;
        std::string what = std::string("N=") + std::to_string(n) + " " + (r.failed ? r.failed : "(none)") + " on " +
                           (n <= (long)r.calls.size() ? r.calls[n - 1].path : std::string("?")) + ": returned " +
                           std::to_string(r.returned) + ", last line \"" + last + "\"";
        table[how == FAILED_REPORTED ? "returned 0 with ERROR last" : how == DONE ? "returned 1 with Done. last"
                                                                                   : "anything else"]++;
        EXPECT_NE(how, OTHER) << what;
        if (late) {
            EXPECT_EQ(how, DONE) << "a stage that never stops the install stopped it: " << what;
        }
        EXPECT_LT(r.ms, 10000u) << what;
        EXPECT_EQ(check_tree(r, how, ref.tree, carried, late), "") << what;
        EXPECT_EQ(check_writes(r, dir), "") << what;

        run_result again = install(cd, dir, 0);
        EXPECT_EQ(again.returned, 1) << "the install after " << what;
        EXPECT_TRUE(again.tree == ref.tree) << "the install after " << what << ": " << check_tree(again, DONE, ref.tree, carried, false);
        remove_tree(dir);
    }
    printf("%s: %ld calls, %d runs (every %ld), the game executable written at call %ld\n", form, count, runs, every,
           boundary);
    for (auto &kv : table) printf("  %-28s %d\n", kv.first.c_str(), kv.second);
    remove_tree(base);
}

// The uninstaller's stage 2 on an installed tree that also holds a file of the user's. Its pause and
// its final box are replaced: the box's text is recorded instead.
static std::string box_text;
static int WINAPI recording_box(HWND, LPCSTR text, LPCSTR, UINT) {
    box_text = text;
    return IDOK;
}
static void WINAPI no_pause(DWORD) {}

static const char user_file[] = "notes.txt", user_bytes[] = "the user's own notes";

struct stage2_run {
    int returned;
    std::string box;
    tree_bytes tree;
    bool key, startmenu, desktop;  // still there
    std::vector<fault_call> calls;
    const char *failed;
    DWORD ms;
};

static bool key_exists() {
    HKEY k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, UNINSTALL_KEY, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

static stage2_run uninstall(const std::string &dir, long fail_at) {
    stage2_run r;
    char startmenu[PATH_TEXT], desktop[PATH_TEXT];
    shortcut_paths(startmenu, desktop);
    box_text = "(no box)";
    DWORD start = GetTickCount();
    quiet = 0;
    {
        import_swap box("user32.dll", "MessageBoxA", (void *)recording_box);
        import_swap pause("kernel32.dll", "Sleep", (void *)no_pause);
        faults().arm(fail_at);
        try {
            r.returned = uninstall_stage2(dir.c_str());
        } catch (...) {
            r.returned = -1;
        }
        faults().disarm();
    }
    r.ms = GetTickCount() - start;
    r.box = box_text;
    r.failed = faults().failed;
    r.calls = faults().log;
    read_tree(dir, "", &r.tree);
    r.key = key_exists();
    r.startmenu = exists(startmenu);
    r.desktop = exists(desktop);
    return r;
}

static std::string check_uninstall_writes(const stage2_run &r, const std::string &dir) {
    char startmenu[PATH_TEXT], desktop[PATH_TEXT];
    shortcut_paths(startmenu, desktop);
    for (const fault_call &c : r.calls) {
        if (!c.writes) continue;
        // Every removal goes through the handle that was checked, never by the name again.
        if (std::string(c.name) == "DeleteFileA" || std::string(c.name) == "RemoveDirectoryA")
            return std::string(c.name) + " by name on " + c.path;
        if (starts_with(c.path, dir + "\\") || _stricmp(c.path.c_str(), dir.c_str()) == 0) continue;
        if (c.path == std::string("registry:") + UNINSTALL_KEY) continue;
        if (_stricmp(c.path.c_str(), startmenu) == 0 || _stricmp(c.path.c_str(), desktop) == 0) continue;
        return std::string(c.name) + " on " + c.path;
    }
    return "";
}

static void install_with_user_file(const std::string &cd, const std::string &dir) {
    ASSERT_EQ(install(cd, dir, 0).returned, 1);
    spit(dir + "\\" + user_file, user_bytes);
}

TEST(sweep, uninstall) {
    std::string cd = testdata("sweepcd\\sweepcd.cue");
    std::string base = temp_dir("sweep-uninstall");
    const std::string removed = "Drovenhelm has been removed.";
    const tree_bytes only_users = {{user_file, user_bytes}};

    install_with_user_file(cd, base + "\\ref");
    tree_bytes installed;
    read_tree(base + "\\ref", "", &installed);
    stage2_run ref = uninstall(base + "\\ref", 0);
    ASSERT_EQ(ref.returned, 0);
    ASSERT_EQ(ref.box, removed);
    ASSERT_TRUE(ref.tree == only_users);
    EXPECT_EQ(check_uninstall_writes(ref, base + "\\ref"), "");
    long count = (long)ref.calls.size();

    long every = 3;
    if (const char *e = getenv("FAULT_SWEEP_EVERY")) every = atol(e) > 0 ? atol(e) : 1;
    std::map<std::string, int> table;
    int runs = 0;
    for (long n = 1; n <= count; n += every) {
        std::string dir = base + "\\u" + std::to_string(n);
        install_with_user_file(cd, dir);
        stage2_run r = uninstall(dir, n);
        runs++;
        std::string what = std::string("N=") + std::to_string(n) + " " + (r.failed ? r.failed : "(none)") + " on " +
                           (n <= (long)r.calls.size() ? r.calls[n - 1].path : std::string("?")) + ": returned " +
                           std::to_string(r.returned) + ", box \"" + r.box + "\"";
        bool ours_remain = r.tree != only_users || r.key || r.startmenu || r.desktop;
        std::string how;
        if (r.returned == 0 && r.box == removed && !ours_remain) {
            how = "removed, and said so";
        } else if (r.returned == 0 && r.box.find("could not be removed completely") != std::string::npos) {
            // A check of what is left that fails cannot tell "gone" from "there": it says "remains".
            how = ours_remain ? "some remains, and said so" : "all gone, but a check failed";
        } else if (r.returned == 1 && (r.box.find("No Drovenhelm installation was found") != std::string::npos ||
                                       r.box == "(no box)")) {
            how = "refused, nothing removed";  // not recognised, or the one-at-a-time lock not had
            tree_bytes want = installed;
            EXPECT_TRUE(r.tree == want && r.key && r.startmenu && r.desktop)
                << "a refused uninstall lost something: " << what;
        } else {
            how = "anything else";
            ADD_FAILURE() << what << (ours_remain ? " (something of ours remains)" : " (nothing of ours remains)");
        }
        table[how]++;
        EXPECT_LT(r.ms, 10000u) << what;
        EXPECT_EQ(r.tree.count(user_file) ? r.tree.at(user_file) : "(gone)", user_bytes) << what;
        EXPECT_EQ(check_uninstall_writes(r, dir), "") << what;

        remove_tree(dir);
    }
    printf("uninstall: %ld calls, %d runs (every %ld)\n", count, runs, every);
    for (auto &kv : table) printf("  %-34s %d\n", kv.first.c_str(), kv.second);
    remove_tree(base);
}

TEST(sweep, folder) { sweep("folder", "sweepcd\\tree"); }
TEST(sweep, iso) { sweep("iso", "sweepcd\\sweepcd.iso"); }
TEST(sweep, cue_bin) { sweep("cue_bin", "sweepcd\\sweepcd.cue"); }
// Its audio files are decoded by libraries that do not survive a failed allocation.
TEST(sweep, cue_audio_files) { sweep("cue_audio_files", "sweepcd\\sweepcd-audio.cue", false); }
TEST(sweep, nrg) { sweep("nrg", "sweepcd\\sweepcd.nrg"); }
