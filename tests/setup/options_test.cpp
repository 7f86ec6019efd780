#include <gtest/gtest.h>

#include "import_swap.h"
#include "setup/options.h"
#include "support.h"

struct run {
    run_mode mode;
    const char *folder;
    int quiet, silent;
    std::string cd, dir;
    int desktop, startmenu;
};

static run parse(std::vector<const char *> args) {
    args.insert(args.begin(), "setup.exe");
    quiet = silent = 0;
    opts = setup_opts{};
    set_default_options();
    snprintf(opts.cd, sizeof opts.cd, "D:\\");  // as if the search had found the CD there
    run r = {};
    r.mode = read_run_mode((int)args.size(), (char **)args.data(), &r.folder);
    if (r.mode == RUN_INSTALL) apply_options((int)args.size(), (char **)args.data());
    r.quiet = quiet;
    r.silent = silent;
    r.cd = opts.cd;
    r.dir = opts.dir;
    r.desktop = opts.desktop;
    r.startmenu = opts.startmenu;
    return r;
}

TEST(options, command_line_table) {
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof cwd, cwd);
    std::string here = cwd;
    if (here.back() != '\\') here += '\\';
    struct {
        const char *why;
        std::vector<const char *> args;
        run want;
    } cases[] = {
        {"defaults", {}, {RUN_INSTALL, NULL, 0, 0, "D:\\", "C:\\Games\\Drovenhelm PC", 1, 1}},
        {"any letter case", {"/SILENT", "/NoDesktop", "/Cd", "E:\\", "/DIR", "C:\\x", "/QUIET"},
         {RUN_INSTALL, NULL, 1, 1, "E:\\", "C:\\x", 0, 1}},
        {"/cd last empties the path", {"/silent", "/cd"}, {RUN_INSTALL, NULL, 0, 1, "", "C:\\Games\\Drovenhelm PC", 1, 1}},
        {"/cd takes /silent as its value", {"/cd", "/silent"},
         {RUN_INSTALL, NULL, 0, 0, "/silent", "C:\\Games\\Drovenhelm PC", 1, 1}},
        {"second /dir wins", {"/dir", "C:\\a", "/dir", "C:\\b"}, {RUN_INSTALL, NULL, 0, 0, "D:\\", "C:\\b", 1, 1}},
        {"relative paths become full", {"/cd", "game.cue", "/dir", "inst\\x"},
         {RUN_INSTALL, NULL, 0, 0, here + "game.cue", here + "inst\\x", 1, 1}},
        {"a bare drive stays the drive", {"/cd", "D:", "/dir", "C:\\Games\\.\\Y\\..\\X"},
         {RUN_INSTALL, NULL, 0, 0, "D:", "C:\\Games\\.\\Y\\..\\X", 1, 1}},
        {"absolute paths stay as written", {"/cd", "C:/cds/game.cue", "/dir", "C:\\Games\\X."},
         {RUN_INSTALL, NULL, 0, 0, "C:/cds/game.cue", "C:\\Games\\X.", 1, 1}},
        {"drive-relative and network paths stay", {"/cd", "e:game.iso", "/dir", "\\\\host\\share\\g"},
         {RUN_INSTALL, NULL, 0, 0, "e:game.iso", "\\\\host\\share\\g", 1, 1}},
        {"/nostartmenu", {"/nostartmenu", "/bogus"}, {RUN_INSTALL, NULL, 0, 0, "D:\\", "C:\\Games\\Drovenhelm PC", 1, 0}},
        {"/uninstall2 last is an ordinary run", {"/silent", "/uninstall2"},
         {RUN_INSTALL, NULL, 0, 1, "D:\\", "C:\\Games\\Drovenhelm PC", 1, 1}},
        {"/uninstall after /silent", {"/silent", "/uninstall"}, {RUN_UNINSTALL1, NULL, 0, 0, "", "", 0, 0}},
        {"/quiet after /uninstall", {"/uninstall", "/quiet"}, {RUN_UNINSTALL1, NULL, 1, 0, "", "", 0, 0}},
        {"/uninstall2 with its folder first", {"/uninstall2", "C:\\g", "/uninstall"},
         {RUN_UNINSTALL2, "C:\\g", 0, 0, "", "", 0, 0}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.why);
        run r = parse(c.args);
        EXPECT_EQ(r.mode, c.want.mode);
        EXPECT_STREQ(r.folder, c.want.folder);
        EXPECT_EQ(r.quiet, c.want.quiet);
        if (r.mode != RUN_INSTALL) continue;
        EXPECT_EQ(r.silent, c.want.silent);
        EXPECT_EQ(r.cd, c.want.cd);
        EXPECT_EQ(r.dir, c.want.dir);
        EXPECT_EQ(r.desktop, c.want.desktop);
        EXPECT_EQ(r.startmenu, c.want.startmenu);
    }
}

// The arguments as the run sees them; none at all when the command line cannot be split or an
// allocation fails, and then the run does nothing (exit code 1).
static LPWSTR *WINAPI failing_split(LPCWSTR, int *) { return NULL; }
static void *failing_calloc(size_t, size_t) { return NULL; }

TEST(options, arguments_or_none) {
    int count = -1;
    char **args = ansi_arguments(&count);
    ASSERT_NE(args, nullptr);
    ASSERT_GE(count, 1);
    EXPECT_EQ(args[count], nullptr);
    EXPECT_NE(strstr(args[0], "setup_test"), nullptr);

    struct {
        const char *dll, *name;
        void *replacement;
    } faults[] = {
        {"shell32.dll", "CommandLineToArgvW", (void *)failing_split},
        {"msvcrt.dll", "calloc", (void *)failing_calloc},
    };
    for (auto &f : faults) {
        SCOPED_TRACE(f.name);
        count = -1;
        {
            import_swap swap(f.dll, f.name, f.replacement);
            ASSERT_TRUE(swap.ok());
            args = ansi_arguments(&count);
        }
        EXPECT_EQ(args, nullptr);
        EXPECT_EQ(count, -1);
    }
}
