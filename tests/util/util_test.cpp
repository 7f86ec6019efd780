#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include "import_swap.h"
#include "support.h"
#include "util/state.h"
#include "util/text.h"
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

// Text cut to its buffer ends with its last whole UTF-8 character: log lines, box texts and
// descriptions never hold the first bytes of one.
TEST(fmt_cut, cuts_between_characters) {
    struct {
        const char *why;
        std::string text;
        size_t size;
        std::string want;
    } cases[] = {
        {"fits", "\xC5\x81\xC3\xB3", 5, "\xC5\x81\xC3\xB3"},
        {"two bytes, cut after the first", "a\xC5\x81", 3, "a"},
        {"three bytes, cut after two", "ab\xE9\x9B\xB7", 5, "ab"},
        {"four bytes, cut after three", "x\xF0\x9F\x8E\xB2", 5, "x"},
        {"cut right after a whole one", "\xE9\x9B\xB7z", 4, "\xE9\x9B\xB7"},
        {"ASCII as before", "abcdef", 4, "abc"},
        {"8-bit text: a stray continuation byte stays", "ab\xA9" "cd", 4, "ab\xA9"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.why);
        char buf[16];
        EXPECT_EQ(std::string(fmt_cut(buf, c.size, "%s", c.text.c_str())), c.want);
    }
    log_capture log;
    setup_log("%s", (std::string(1022, 'a') + "\xC3\xB1").c_str());
    EXPECT_EQ(log.lines().at(0), std::string(1022, 'a'));
}

// Which names are UTF-8 decides which are converted from an 8-bit code page (text_from_disc).
TEST(utf8_valid, what_utf8_is) {
    const char *valid[] = {"", "README.TXT", "\xC3\xB1", "\xE9\x9B\xB7", "\xF0\x9F\x8E\xB2", "\xF4\x8F\xBF\xBF",
                           "\xED\x9F\xBF"};
    for (const char *t : valid) EXPECT_TRUE(utf8_valid(t, strlen(t))) << t;
    const char *invalid[] = {"A\xF1O.DAT", "\xC3", "\x80", "\xC3\x28", "\xC0\xAF" /* overlong '/' */,
                             "\xE0\x80\xAF", "\xF0\x80\x80\xAF", "\xED\xA0\x80" /* a surrogate */,
                             "\xF4\x90\x80\x80" /* past U+10FFFF */, "\xF5\x80\x80\x80", "\xE9\x9B"};
    for (const char *t : invalid) EXPECT_FALSE(utf8_valid(t, strlen(t))) << t;
}

// This program runs in the system's code page (1252 in the test prefix), as on a Windows that
// ignores the setup's manifest: names go as they are, as that system takes them. Nothing is cut.
TEST(text_from_disc, outside_the_utf8_code_page_names_go_as_they_are) {
    ASSERT_NE(GetACP(), (UINT)CP_UTF8);
    char out[8];
    EXPECT_TRUE(text_from_disc("A\xF1O", 3, out, sizeof out));
    EXPECT_STREQ(out, "A\xF1O");
    EXPECT_TRUE(text_from_disc("\xC3\xB1\0X", 4, out, sizeof out));
    EXPECT_STREQ(out, "\xC3\xB1");  // a NUL byte ends a name
    EXPECT_FALSE(text_from_disc("ABCDEFGH", 8, out, sizeof out));
    EXPECT_FALSE(text_from_disc("ABCDEFG\xF1", 8, out, sizeof out));
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

TEST(name_is_safe, devices_separators_and_dots) {
    const char *unsafe[] = {"", ".", "..", ". .", "..\\..\\VERSION.DLL", "A/B", "C:X", "TAB\tNAME",
                            "CON", "con.txt", "Nul", "COM1", "LPT9.DAT", "AUX .X",
                            // Trailing blanks and dots go before the comparison, whatever the length.
                            "COM1      ", "NUL       ", "nul. . ", "com1 .txt", "LPT2 ", "PRN.TXT.",
                            "CONIN$", "conout$.log", "CLOCK$",
                            // Superscript 1, 2 and 3 are digits to Windows: in UTF-8 and as 1252's byte.
                            "COM\xC2\xB9", "lpt\xC2\xB3.txt", "COM\xC2\xB2  ", "LPT\xB9", "com\xB3.dat"};
    for (const char *n : unsafe) EXPECT_EQ(name_is_safe(n), 0) << n;
    const char *safe[] = {"README.TXT", "..X", "CONSOLE", "COM0", "COM10", "LPT", "A B", "FILE.", "NULL.TXT",
                          "CON1", "COM1X", "X.CON", "CLOCK",
                          // Bytes of UTF-8 characters are never separators: "Ü.DAT", "Łódź 雷", "COM⁴", "COM¹X".
                          "\xC3\x9C.DAT", "\xC5\x81\xC3\xB3" "d\xC5\xBA \xE9\x9B\xB7", "COM\xE2\x81\xB4",
                          "COM\xC2\xB9X"};
    for (const char *n : safe) EXPECT_EQ(name_is_safe(n), 1) << n;
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

// make_dirs of a text of three characters or fewer never looks past its end: stack bytes left as
// separators by an earlier call must not become cut points. With no level there, it tries the text
// itself, walks no level and tries it once more.
static int created_dirs;
static BOOL WINAPI counting_create_directory(LPCSTR, LPSECURITY_ATTRIBUTES) {
    created_dirs++;
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
}
__attribute__((noinline)) static void leave_separators_on_the_stack(void) {
    volatile char junk[4096];
    for (size_t i = 0; i < sizeof junk; i++) junk[i] = '\\';
}

TEST(make_dirs, short_texts_have_no_cut_point) {
    import_swap swap("kernel32.dll", "CreateDirectoryA", (void *)counting_create_directory);
    ASSERT_TRUE(swap.ok());
    for (const char *text : {"", "C:", "C:\\"}) {
        SCOPED_TRACE(text);
        created_dirs = 0;
        leave_separators_on_the_stack();
        make_dirs(text);
        EXPECT_EQ(created_dirs, 2);
    }
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

// Windows refuses to open a read-only file for writing; Wine, run as root, opens it. This
// CreateFileA answers as Windows does. The replacements here reach the real calls through the
// addresses the swaps saved: by name they would call themselves.
static decltype(&CreateFileA) real_create_file;
static HANDLE WINAPI create_file_as_windows(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                            DWORD how, DWORD flags, HANDLE from) {
    DWORD attributes = GetFileAttributesA(name);
    if ((access & GENERIC_WRITE) && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return real_create_file(name, access, share, sa, how, flags, from);
}

// A read-only file at one of the setup's names (a user's doing, or a copy made by other means) is
// replaced like any other: the install owns its tree, and a re-install must not stop at the file.
TEST(write_file, replaces_a_read_only_file_and_its_attribute) {
    import_swap swap("kernel32.dll", "CreateFileA", (void *)create_file_as_windows);
    ASSERT_TRUE(swap.ok());
    real_create_file = (decltype(&CreateFileA))swap.original;
    std::string t = temp_dir("wfro");
    struct {
        const char *name;
        DWORD attributes;
    } cases[] = {
        {"ro.dat", FILE_ATTRIBUTE_READONLY},
        {"ro-hidden.dat", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string f = t + "\\" + c.name;
        spit(f, "old contents");
        ASSERT_TRUE(SetFileAttributesA(f.c_str(), c.attributes));
        EXPECT_EQ(write_file(f.c_str(), "new", 3), 1);
        EXPECT_EQ(slurp(f), "new");
        EXPECT_EQ(GetFileAttributesA(f.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
        std::string copy = t + "\\copy-" + c.name;
        spit(copy, "old");
        ASSERT_TRUE(SetFileAttributesA(copy.c_str(), c.attributes));
        EXPECT_EQ(copy_file(f.c_str(), copy.c_str(), NULL), 1);
        EXPECT_EQ(slurp(copy), "new");
        SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_NORMAL);
        SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
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

// A file of 0xFFFFFFFF bytes is the largest one read request carries; 4 GiB is refused before
// anything is allocated or read. The platform reports the size, and the allocation and the read are
// counted, not done: Wine's C runtime cannot allocate 4 GiB at all, Windows can.
static LONGLONG fake_size;
// Counted in plain variables: a vector would allocate through the swapped malloc.
static size_t allocations, allocated;
static int read_requests;
static DWORD requested;
static char fake_block;
static BOOL WINAPI fake_file_size(HANDLE, PLARGE_INTEGER size) {
    size->QuadPart = fake_size;
    return TRUE;
}
static void *fake_malloc(size_t n) {
    allocations++;
    allocated = n;
    return &fake_block;
}
static BOOL WINAPI counting_read(HANDLE, LPVOID, DWORD want, LPDWORD got, LPOVERLAPPED) {
    read_requests++;
    requested = want;
    *got = want;
    return TRUE;
}

TEST(read_file, reads_up_to_4gib_less_one_byte_in_one_request) {
    std::string f = temp_dir("rf4") + "\\f";
    spit(f, "x");
    struct {
        LONGLONG size;
        bool read;
    } cases[] = {{0xFFFFFFFFll, true}, {0x100000000ll, false}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.size);
        fake_size = c.size;
        allocations = allocated = 0;
        read_requests = 0;
        requested = 0;
        uint64_t size = 77;
        void *b;
        {
            import_swap s1("kernel32.dll", "GetFileSizeEx", (void *)fake_file_size);
            import_swap s2("msvcrt.dll", "malloc", (void *)fake_malloc);
            import_swap s3("kernel32.dll", "ReadFile", (void *)counting_read);
            ASSERT_TRUE(s1.ok() && s2.ok() && s3.ok());
            b = read_file(f.c_str(), &size);
        }
        EXPECT_EQ(b, c.read ? &fake_block : nullptr);
        EXPECT_EQ(size, c.read ? (uint64_t)c.size : 77u);
        EXPECT_EQ(allocations, c.read ? 1u : 0u);
        EXPECT_EQ(allocated, c.read ? 0x100000000u : 0u);  // size + 1: the spare byte
        EXPECT_EQ(read_requests, c.read ? 1 : 0);
        EXPECT_EQ(requested, c.read ? 0xFFFFFFFFu : 0u);
    }
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

TEST(copy_file, a_failed_write_names_the_destination) {
    std::string t = temp_dir("cfw");
    spit(t + "\\src", "abc");
    log_capture log;
    int result;
    {
        import_swap swap("kernel32.dll", "WriteFile", (void *)write_fails_disk_full);
        ASSERT_TRUE(swap.ok());
        result = copy_file((t + "\\src").c_str(), (t + "\\dst").c_str(), NULL);
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(log.text(), "cannot write " + t + "\\dst\n");
}

// Which file each handle belongs to, and the order in which they are closed.
// The replacements reach the real calls through the addresses the swaps saved: by name they would
// call themselves.
static std::vector<std::pair<HANDLE, std::string>> opened_files;
static std::vector<std::string> closed_files;
static decltype(&CloseHandle) real_close;
static HANDLE WINAPI recording_create_file(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                           DWORD disposition, DWORD flags, HANDLE tmpl) {
    HANDLE h = real_create_file(path, access, share, sa, disposition, flags, tmpl);
    // The copy's two files; the checks of where a path lies open folders for their attributes only.
    if (h != INVALID_HANDLE_VALUE && (access & (GENERIC_READ | GENERIC_WRITE)))
        opened_files.push_back({h, access & GENERIC_WRITE ? "destination" : "source"});
    return h;
}
static BOOL WINAPI recording_close(HANDLE h) {
    for (auto &o : opened_files)
        if (o.first == h) closed_files.push_back(o.second);
    return real_close(h);
}

TEST(copy_file, closes_the_source_then_the_destination) {
    std::string t = temp_dir("cfo");
    spit(t + "\\src", "abc");
    CreateDirectoryA((t + "\\taken").c_str(), NULL);
    struct {
        const char *dst;
        int result;
        std::vector<std::string> closed;
    } cases[] = {
        {"\\dst", 1, {"source", "destination"}},
        {"\\taken", 0, {"source"}},  // the destination could not be created
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.dst);
        opened_files.clear();
        closed_files.clear();
        int result;
        {
            import_swap s1("kernel32.dll", "CreateFileA", (void *)recording_create_file);
            import_swap s2("kernel32.dll", "CloseHandle", (void *)recording_close);
            ASSERT_TRUE(s1.ok() && s2.ok());
            real_create_file = (decltype(real_create_file))s1.original;
            real_close = (decltype(real_close))s2.original;
            result = copy_file((t + "\\src").c_str(), (t + c.dst).c_str(), NULL);
        }
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(closed_files, c.closed);
    }
}

// A written file whose close fails (a network drive that cannot flush what it kept) is a failed
// write, not a whole file.
static HANDLE written_handle;
static BOOL WINAPI close_fails_for_written(HANDLE h) {
    BOOL ok = real_close(h);
    if (h != written_handle) return ok;
    SetLastError(ERROR_NETNAME_DELETED);
    return FALSE;
}
static HANDLE WINAPI remember_written(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                      DWORD disposition, DWORD flags, HANDLE tmpl) {
    HANDLE h = real_create_file(path, access, share, sa, disposition, flags, tmpl);
    if (access & GENERIC_WRITE) written_handle = h;
    return h;
}

TEST(copy_file, a_failed_close_of_the_destination_fails_the_copy) {
    std::string t = temp_dir("cfclose");
    spit(t + "\\src", "abc");
    for (const char *how : {"copy_file", "write_file"}) {
        SCOPED_TRACE(how);
        log_capture log;
        int result;
        {
            import_swap s1("kernel32.dll", "CreateFileA", (void *)remember_written);
            import_swap s2("kernel32.dll", "CloseHandle", (void *)close_fails_for_written);
            ASSERT_TRUE(s1.ok() && s2.ok());
            real_create_file = (decltype(real_create_file))s1.original;
            real_close = (decltype(real_close))s2.original;
            result = std::string(how) == "copy_file" ? copy_file((t + "\\src").c_str(), (t + "\\dst").c_str(), NULL)
                                                     : write_file((t + "\\dst").c_str(), "abc", 3);
        }
        written_handle = NULL;
        EXPECT_EQ(result, 0);
        EXPECT_EQ(log.lines(), std::vector<std::string>{(std::string(how) == "copy_file" ? "cannot write " : "write failed: ") + t + "\\dst"});
    }
}
