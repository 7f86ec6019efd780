#include "support.h"

#include <windows.h>
#include <stdlib.h>

#include "util/state.h"

std::string temp_dir(const char *tag) {
    static int serial;
    char tmp[MAX_PATH];
    GetTempPathA(sizeof tmp, tmp);
    char path[MAX_PATH];
    // Wine hands out the same process ids run after run: a folder an earlier run left is passed over.
    for (;;) {
        snprintf(path, sizeof path, "%sdvtest\\%s-%lu-%d", tmp, tag, GetCurrentProcessId(), ++serial);
        std::string p = path;
        for (size_t i = 3; i < p.size(); i++)
            if (p[i] == '\\') CreateDirectoryA(p.substr(0, i).c_str(), NULL);
        if (CreateDirectoryA(path, NULL) || GetLastError() != ERROR_ALREADY_EXISTS) return p;
    }
}

std::string testdata(const char *rel) { return std::string(TESTDATA_DIR) + "\\" + rel; }
std::string fixture(const char *rel) { return std::string(FIXTURES_DIR) + "\\" + rel; }

std::string slurp(const std::string &path) {
    std::string s;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return s;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
}

void spit(const std::string &path, const std::string &bytes) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

bool exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

log_capture::log_capture() {
    path = temp_dir("log") + "\\log.txt";
    logf = fopen(path.c_str(), "w");
}

log_capture::~log_capture() {
    if (logf) fclose(logf);
    logf = NULL;
}

std::string log_capture::text() {
    std::string s = slurp(path), out;
    for (char c : s)
        if (c != '\r') out += c;
    return out;
}

std::vector<std::string> log_capture::lines() {
    std::vector<std::string> v;
    std::string t = text();
    size_t at = 0, nl;
    while ((nl = t.find('\n', at)) != std::string::npos) {
        v.push_back(t.substr(at, nl - at));
        at = nl + 1;
    }
    return v;
}

std::string carried_game_exe() {
    HRSRC r = FindResourceA(NULL, "GAMEEXE", RT_RCDATA);
    HGLOBAL g = r ? LoadResource(NULL, r) : NULL;
    const char *p = g ? (const char *)LockResource(g) : NULL;
    return p ? std::string(p, SizeofResource(NULL, r)) : std::string();
}
