#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support.h"
#include "util/folder_walk.h"

// What a walk handed out, one line per callback, and how the visitor answers.
struct trace {
    std::vector<std::string> lines;
    walk_answer folders = WALK_ENTER;
    std::string stop_at;  // the file whose visit ends the walk
};

static walk_answer seen_file(void *user, const folder_entry *e) {
    trace *t = (trace *)user;
    t->lines.push_back("file " + std::string(e->rel) + " " + std::to_string(e->depth));
    return t->stop_at == e->rel ? WALK_STOP : WALK_NEXT;
}

static walk_answer seen_folder(void *user, const folder_entry *e) {
    trace *t = (trace *)user;
    t->lines.push_back("folder " + std::string(e->rel) + " " + std::to_string(e->depth));
    return t->folders;
}

static walk_answer seen_leave(void *user, const folder_entry *e) {
    ((trace *)user)->lines.push_back("leave " + std::string(e->rel));
    return WALK_NEXT;
}

static walk_answer seen_unlisted(void *user, const char *, const char *rel, DWORD err) {
    bool missing = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
    ((trace *)user)->lines.push_back("unlisted '" + std::string(rel) + "'" + (missing ? " missing" : ""));
    return WALK_NEXT;
}

static int walk(const std::string &root, trace *t) {
    folder_visitor v = {seen_file, seen_folder, seen_leave, seen_unlisted, t};
    return folder_walk(root.c_str(), &v);
}

// One entry a level, so that the order does not hang on how the file system lists a folder.
TEST(folder_walk, order_answers_and_stop) {
    std::string root = temp_dir("fwalk");
    CreateDirectoryA((root + "\\A").c_str(), NULL);
    CreateDirectoryA((root + "\\A\\B").c_str(), NULL);
    spit(root + "\\A\\B\\f.txt", "f");
    struct {
        const char *name;
        walk_answer folders;
        const char *stop_at;
        int result;
        std::vector<std::string> lines;
    } cases[] = {
        {"entered, left after its entries", WALK_ENTER, "", 1,
         {"folder A 0", "folder A\\B 1", "file A\\B\\f.txt 2", "leave A\\B", "leave A"}},
        {"passed over", WALK_NEXT, "", 1, {"folder A 0"}},
        {"stopped by a file", WALK_ENTER, "A\\B\\f.txt", 0, {"folder A 0", "folder A\\B 1", "file A\\B\\f.txt 2"}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        trace t;
        t.folders = c.folders;
        t.stop_at = c.stop_at;
        EXPECT_EQ(walk(root, &t), c.result);
        EXPECT_EQ(t.lines, c.lines);
    }
    trace gone;
    EXPECT_EQ(walk(root + "\\missing", &gone), 1);
    EXPECT_EQ(gone.lines, std::vector<std::string>{"unlisted '' missing"});
}

// A link back up the tree is handed out as a folder, but not entered even when the visitor asks:
// entered, it would list the same tree again and again.
TEST(folder_walk, a_folder_link_is_never_entered) {
    trace t;
    EXPECT_EQ(walk(testdata("looped"), &t), 1);
    std::vector<std::string> lines = t.lines;
    ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
    std::sort(lines.begin() + 1, lines.end() - 1);  // the listing order inside "inner" is the file system's
    EXPECT_EQ(lines, (std::vector<std::string>{"folder inner 0", "file inner\\f.txt 1", "folder inner\\up 1", "leave inner"}));
}
