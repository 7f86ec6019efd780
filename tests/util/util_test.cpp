#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include "support.h"
#include "util/state.h"
#include "util/util.h"

TEST(setup_log, lines_are_flushed_and_cut_at_1023) {
    log_capture log;
    setup_log("cannot read %s", "X:\\a");
    // On disk before the stream is closed: the log survives an abrupt end.
    EXPECT_EQ(slurp(log.path), "cannot read X:\\a\r\n");
    std::string big(2000, 'a');
    setup_log("%s", big.c_str());
    EXPECT_EQ(log.lines().at(1), std::string(1023, 'a'));
}

TEST(setup_log, without_a_stream_it_writes_nothing_and_still_posts) {
    ASSERT_EQ(logf, nullptr);
    HWND w = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    ASSERT_TRUE(w);
    hwnd = w;
    setup_log("Copying %s ...", "folder D:\\");
    silent = 1;
    setup_log("not posted in a silent run");
    silent = 0;
    hwnd = NULL;

    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, w, WM_SETUP_LOG, WM_SETUP_LOG, PM_REMOVE));
    EXPECT_EQ(m.wParam, 0u);
    char *line = (char *)m.lParam;
    EXPECT_STREQ(line, "Copying folder D:\\ ...");
    free(line);  // the receiver owns the copy
    EXPECT_FALSE(PeekMessageA(&m, w, WM_SETUP_LOG, WM_SETUP_LOG, PM_REMOVE));
    DestroyWindow(w);
}

TEST(progress, add_without_callback_only_counts) {
    progress p = {10, 100, NULL, NULL};
    progress_add(&p, 5);
    EXPECT_EQ(p.done, 15u);
}

TEST(make_dirs, creates_every_level_with_either_separator) {
    std::string t = temp_dir("mkd");
    struct {
        const char *rel, *check;
    } cases[] = {
        {"\\a\\b\\c", "\\a\\b"},
        {"/x/y", "\\x"},
        {"\\t\\u\\", "\\t\\u"},  // a trailing separator still gives 1
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.rel);
        std::string p = t + c.rel;
        EXPECT_EQ(make_dirs(p.c_str()), 1);
        EXPECT_TRUE(is_dir((t + c.check).c_str()));
    }
    EXPECT_EQ(make_dirs(t.c_str()), 1);  // already there
    spit(t + "\\file", "x");
    EXPECT_EQ(make_dirs((t + "\\file").c_str()), 0);
}

TEST(write_file, creates_parents_replaces_and_reports) {
    std::string t = temp_dir("wf");
    std::string f = t + "\\p\\q\\f.bin";
    ASSERT_EQ(write_file(f.c_str(), "old contents", 12), 1);
    ASSERT_EQ(write_file(f.c_str(), "new", 3), 1);
    EXPECT_EQ(slurp(f), "new");
    ASSERT_EQ(write_file((t + "\\empty").c_str(), "", 0), 1);
    EXPECT_EQ(slurp(t + "\\empty"), "");

    // Only a backslash separates the parent folder: with slashes nothing is created.
    log_capture log;
    std::string slashed = t + "/x/y/f.bin";
    EXPECT_EQ(write_file(slashed.c_str(), "z", 1), 0);
    EXPECT_FALSE(is_dir((t + "\\x").c_str()));
    EXPECT_EQ(log.text(), "cannot write " + slashed + " (error 3)\n");
}

TEST(read_file, gives_a_spare_byte_and_leaves_size_alone_on_failure) {
    std::string t = temp_dir("rf");
    spit(t + "\\empty", "");
    uint64_t size = 77;
    void *b = read_file((t + "\\empty").c_str(), &size);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(size, 0u);
    free(b);

    log_capture log;
    size = 77;
    EXPECT_EQ(read_file((t + "\\missing").c_str(), &size), nullptr);
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(log.text(), "");
}

static std::vector<uint64_t> seen;
static void record(uint64_t done, uint64_t expected, void *user) {
    EXPECT_EQ(expected, 999u);
    EXPECT_EQ(user, &seen);
    seen.push_back(done);
}

TEST(copy_file, reports_each_1mib_block) {
    std::string t = temp_dir("cf");
    std::string data(2621440, 0);  // 2.5 MiB
    for (size_t i = 0; i < data.size(); i++) data[i] = (char)(i * 7 + i / 4096);
    spit(t + "\\src", data);
    progress p = {0, 999, record, &seen};
    seen.clear();
    ASSERT_EQ(copy_file((t + "\\src").c_str(), (t + "\\d1\\d2\\dst").c_str(), &p), 1);
    EXPECT_EQ(seen, (std::vector<uint64_t>{1048576, 2097152, 2621440}));
    EXPECT_TRUE(slurp(t + "\\d1\\d2\\dst") == data);

    spit(t + "\\empty", "");
    seen.clear();
    ASSERT_EQ(copy_file((t + "\\empty").c_str(), (t + "\\empty2").c_str(), &p), 1);
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(exists(t + "\\empty2"));
}

TEST(copy_file, failures_name_the_file_and_create_no_destination) {
    std::string t = temp_dir("cff");
    log_capture log;
    std::string missing = t + "\\missing", dst = t + "\\out\\dst";
    EXPECT_EQ(copy_file(missing.c_str(), dst.c_str(), NULL), 0);
    EXPECT_TRUE(is_dir((t + "\\out").c_str()));  // the parent comes first
    EXPECT_FALSE(exists(dst));

    spit(t + "\\src", "abc");
    CreateDirectoryA((t + "\\taken").c_str(), NULL);  // a folder where the file should go
    EXPECT_EQ(copy_file((t + "\\src").c_str(), (t + "\\taken").c_str(), NULL), 0);
    EXPECT_EQ(log.text(), "cannot read " + missing + "\ncannot write " + t + "\\taken\n");
    // The source was closed: it can be deleted now.
    EXPECT_TRUE(DeleteFileA((t + "\\src").c_str()));
}
