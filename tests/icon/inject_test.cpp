#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "icon/emblem.h"
#include "icon/icon.h"
#include "icon/icon_image.h"
#include "picture_builder.h"
#include "support.h"

// A stored PBM of w x h palette indices (w even, so rows need no fill byte), with entry 0 dark.
static std::string stored_pbm(int w, int h, const std::string &indices, const std::string &palette) {
    return pbm(bmhd(w, h, 0) + ichunk("CMAP", palette) + ichunk("BODY", indices));
}
static const std::string k_palette = std::string("\0\0\0\xC8\x28\x28\x28\x28\xC8\x0A\x14\x1D", 12);
// Red over blue with a clear column; and an all-dark one (entry 3 sums to 59).
static const std::string k_red_blue = stored_pbm(4, 2, std::string("\1\1\1\0\2\2\2\0", 8), k_palette);
static const std::string k_green = stored_pbm(2, 2, std::string("\0\1\1\1", 4), std::string("\0\0\0\x10\xF0\x10", 6));
static const std::string k_dark = stored_pbm(2, 2, std::string("\3\0\3\3", 4), k_palette);

static icon_result inject(const std::string &exe, const std::string &picture) {
    return inject_icon_lbm(exe.c_str(), (const uint8_t *)picture.data(), picture.size());
}

// A copy of this test program: an executable built like the game's.
static std::string exe_copy(const char *tag) {
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string exe = temp_dir(tag) + "\\game.exe";
    EXPECT_TRUE(CopyFileA(self, exe.c_str(), FALSE));
    return exe;
}

static std::string res_id(const char *id) {
    return IS_INTRESOURCE(id) ? "#" + std::to_string((uintptr_t)id) : std::string(id);
}

// Every resource of a file, "type/name/language" -> bytes, read the way Windows reads them.
typedef std::map<std::string, std::string> resource_map;
struct enum_state {
    HMODULE mod;
    resource_map *out;
    const char *type;
    const char *name;
};
static BOOL CALLBACK on_lang(HMODULE mod, LPCSTR type, LPCSTR name, WORD lang, LONG_PTR user) {
    HRSRC r = FindResourceExA(mod, type, name, lang);
    HGLOBAL g = r ? LoadResource(mod, r) : NULL;
    const char *p = g ? (const char *)LockResource(g) : NULL;
    std::string key = res_id(type) + "/" + res_id(name) + "/" + std::to_string(lang);
    (*(resource_map *)user)[key] = p ? std::string(p, SizeofResource(mod, r)) : "unreadable";
    return TRUE;
}
static BOOL CALLBACK on_name(HMODULE mod, LPCSTR type, LPSTR name, LONG_PTR user) {
    return EnumResourceLanguagesA(mod, type, name, on_lang, user);
}
static BOOL CALLBACK on_type(HMODULE mod, LPSTR type, LONG_PTR user) {
    return EnumResourceNamesA(mod, type, on_name, user);
}
static resource_map resources(const std::string &exe) {
    resource_map out;
    HMODULE mod = LoadLibraryExA(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(mod, nullptr) << exe;
    if (!mod) return out;
    EnumResourceTypesA(mod, on_type, (LONG_PTR)&out);
    FreeLibrary(mod);  // a mapped file cannot be updated
    return out;
}

// What the icon of a picture must add: the images and the group built by the icon module.
static resource_map icon_resources(const std::string &picture) {
    resource_map out;
    emblem_picture pic;
    EXPECT_EQ(emblem_decode((const uint8_t *)picture.data(), picture.size(), &pic), 1);
    icon_set set;
    EXPECT_EQ(icon_set_build(&pic, &set), 1);
    for (int k = 1; k <= ICON_COUNT; k++)
        out["#3/#" + std::to_string(k) + "/0"] = std::string((char *)set.image[k - 1], set.size[k - 1]);
    out["#14/#1/0"] = std::string((char *)set.group, sizeof set.group);
    return out;
}

TEST(inject_icon_lbm, writes_the_icon_and_keeps_other_resources) {
    std::string exe = exe_copy("inject");
    // A resource of its own, in the language a resource compiler gives.
    HANDLE h = BeginUpdateResourceA(exe.c_str(), FALSE);
    ASSERT_NE(h, nullptr);
    UpdateResourceA(h, RT_RCDATA, "KEEP", 1033, (void *)"keep these bytes", 16);
    ASSERT_TRUE(EndUpdateResourceA(h, FALSE));
    resource_map before = resources(exe);
    ASSERT_EQ(before.count("#10/KEEP/1033"), 1u);

    log_capture log;
    ASSERT_EQ(inject(exe, k_red_blue), ICON_WRITTEN);
    resource_map want = before, icon = icon_resources(k_red_blue);
    want.insert(icon.begin(), icon.end());
    EXPECT_TRUE(resources(exe) == want);

    // A second icon replaces the first (same type, id and language) instead of adding to it.
    ASSERT_EQ(inject(exe, k_green), ICON_WRITTEN);
    want = before;
    icon = icon_resources(k_green);
    want.insert(icon.begin(), icon.end());
    EXPECT_TRUE(resources(exe) == want);
    EXPECT_TRUE(log.lines().empty());
}

struct env_guard {  // restores one environment variable
    std::string name, value;
    bool had;
    explicit env_guard(const char *n) : name(n) {
        char buf[MAX_PATH];
        DWORD got = GetEnvironmentVariableA(n, buf, sizeof buf);
        had = got > 0 && got < sizeof buf;
        if (had) value = buf;
    }
    ~env_guard() { SetEnvironmentVariableA(name.c_str(), had ? value.c_str() : NULL); }
};

TEST(inject_icon_lbm, failures_log_one_line_and_leave_the_executable) {
    struct {
        const char *name;
        std::string picture;
        std::function<void(const std::string &exe)> arrange;
        const char *line;
        icon_result result;  // whether the update began
    } cases[] = {
        {"missing executable", k_red_blue, [](const std::string &exe) { DeleteFileA(exe.c_str()); },
         "ERROR: cannot update the game executable's icon", ICON_NOT_MADE},
        {"not a picture", std::string(200, 'x'), nullptr, "ERROR: game emblem picture not understood", ICON_NOT_MADE},
        {"every colour dark", k_dark, nullptr, "ERROR: game emblem picture is empty", ICON_NOT_MADE},
        // The platform builds the new file in the temporary folder and copies it over the
        // executable when the update ends: with no usable temporary folder, beginning still
        // works and only the end fails.
        {"no temporary folder", k_red_blue,
         [](const std::string &exe) {
             std::string gone = temp_dir("notmp") + "\\gone";
             SetEnvironmentVariableA("TMP", gone.c_str());
             SetEnvironmentVariableA("TEMP", gone.c_str());
         },
         "ERROR: cannot write the game executable's icon", ICON_UPDATE_FAILED},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        env_guard tmp("TMP"), temp("TEMP");
        std::string exe = exe_copy("fail"), original = slurp(exe);
        log_capture log;  // before the temporary folder goes: it makes its own folder there
        if (c.arrange) c.arrange(exe);
        EXPECT_EQ(inject(exe, c.picture), c.result);
        EXPECT_EQ(log.lines(), std::vector<std::string>{c.line});
        if (exists(exe)) {
            EXPECT_TRUE(slurp(exe) == original);
        }
    }
}

// Another program holding the executable open (a running game, a virus scanner) keeps the update
// from beginning.
TEST(inject_icon_lbm, locked_executable) {
    std::string exe = exe_copy("locked"), original = slurp(exe);
    HANDLE other = CreateFileA(exe.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    log_capture log;
    EXPECT_EQ(inject(exe, k_red_blue), ICON_NOT_MADE);
    CloseHandle(other);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"ERROR: cannot update the game executable's icon"});
    EXPECT_TRUE(slurp(exe) == original);
    // Released, the same file takes the icon.
    EXPECT_EQ(inject(exe, k_red_blue), ICON_WRITTEN);
}
