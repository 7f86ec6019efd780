// ISO 9660 over an image in memory: the root listing, the size total, the listing, the copy into
// a folder in memory (the setup's own copy walk, with the file system swapped for a map) and path
// lookups, with the bounds each of them promises.
//
// Input: a whole image of 2048-byte sectors, or, when it begins with a primary volume descriptor
// ("\x01CD001"), the image from sector 16 on; the system area before it reads as zeros. Seeds
// stay small that way, and mutations land on the volume's own structures. The same bytes are
// also parsed as the records of one directory.
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "cdsrc/iso9660.h"
#include "fuzz_check.h"

enum { PVD_SECTOR = 16, FIND_PATHS = 16 };

struct mem_image {
    const uint8_t *data;
    size_t size;
    uint32_t first;             // the volume sector that data begins
    uint64_t sectors;           // first + the sectors of data, the last one zero-padded
    std::vector<uint8_t> seen;  // sectors read during the current walk
    int once;                   // 1 while a tree walk runs: no sector may be read twice
    int copying;                // 1 while the copy runs: file data past the image fails to read
    uint64_t reads;             // sectors read during the current walk
};

static int mem_read(void *ctx, uint32_t first, uint32_t count, void *buf) {
    mem_image *m = (mem_image *)ctx;
    // A file's extent may claim anything; the image file ends where the data ends.
    if (m->copying && (uint64_t)first + count > m->sectors) return 0;
    // The walks refuse an extent before reading it: one too large for a directory, or past the image.
    FUZZ_CHECK(count <= iso_sectors(ISO_DIR_MAX), "a read of %u sectors", count);
    FUZZ_CHECK((uint64_t)first + count <= m->sectors, "a read of %u sectors from %u, past the volume's %llu",
               count, first, (unsigned long long)m->sectors);
    uint8_t *out = (uint8_t *)buf;
    for (uint32_t i = 0; i < count; i++) {
        uint64_t s = (uint64_t)first + i;
        if (m->once) {
            FUZZ_CHECK(!m->seen[s], "sector %llu read twice in one walk", (unsigned long long)s);
            m->seen[s] = 1;
        }
        m->reads++;
        uint8_t *dst = out + (size_t)i * ISO_SECTOR;
        memset(dst, 0, ISO_SECTOR);
        if (s < m->first) continue;
        uint64_t at = (s - m->first) * ISO_SECTOR;
        memcpy(dst, m->data + at, m->size - at < ISO_SECTOR ? m->size - at : ISO_SECTOR);
    }
    return 1;
}

static void walk_begins(mem_image *m, int once) {
    m->seen.assign(m->sectors, 0);
    m->once = once;
    m->copying = 0;
    m->reads = 0;
}

struct listed {
    std::vector<std::string> paths;
    uint64_t file_bytes = 0;
};

// A listed path: at most PATH_TEXT - 1 characters, and, unless it was cut there, made of names
// that may become files or folders, one level deeper than its folder, no deeper than the limit.
static void check_path(const char *rel, int levels) {
    size_t n = strnlen(rel, PATH_TEXT);
    FUZZ_CHECK(n < PATH_TEXT, "an unterminated path");
    if (n == PATH_TEXT - 1) return;  // cut: its last name is not whole
    std::string path(rel), name;
    int parts = 0;
    for (size_t a = 0;; ) {
        size_t b = path.find('\\', a);
        name = path.substr(a, b == std::string::npos ? std::string::npos : b - a);
        parts++;
        FUZZ_CHECK(name.size() <= 63 && name_is_safe(name.c_str()), "unsafe name '%s' in '%s'", name.c_str(), rel);
        if (b == std::string::npos) break;
        a = b + 1;
    }
    FUZZ_CHECK(parts <= levels, "'%s' is %d levels deep", rel, parts);
}

static void on_dir(void *user, const char *rel) {
    check_path(rel, MAX_DEPTH);
    ((listed *)user)->paths.push_back(rel);
}

static void on_file(void *user, const char *rel, uint64_t size) {
    check_path(rel, MAX_DEPTH + 1);
    listed *l = (listed *)user;
    l->paths.push_back(rel);
    l->file_bytes += size;
}

// The copy's destination in memory. A path is its names as the file system tells them apart:
// ASCII letters in upper case, without trailing dots and blanks.
static const char k_dest[] = "C:\\DEST";

struct mem_folder {
    std::set<std::string> dirs;                  // folders made, the destination among them
    std::map<std::string, uint64_t> files;       // files written, with their bytes
    uint64_t bytes = 0;
};

static std::string fs_key(const std::string &path) {
    std::string key, name;
    for (size_t a = 0;;) {
        size_t b = path.find('\\', a);
        name = path.substr(a, b == std::string::npos ? std::string::npos : b - a);
        while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
        for (char &c : name)
            if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
        key += (a ? "\\" : "") + name;
        if (b == std::string::npos) return key;
        a = b + 1;
    }
}

// A path the copy hands the file system: whole, inside the destination, made of safe names and no
// deeper than the walk goes (files one level below the deepest folder).
static void check_written(const char *path, int levels) {
    size_t n = strnlen(path, PATH_TEXT);
    FUZZ_CHECK(n < PATH_TEXT, "an unterminated path");
    size_t d = sizeof k_dest - 1;
    FUZZ_CHECK(strncmp(path, k_dest, d) == 0 && (path[d] == 0 || path[d] == '\\'), "'%s' outside %s", path, k_dest);
    if (path[d]) check_path(path + d + 1, levels);
}

static void mem_make_dir(void *ctx, const char *path) {
    mem_folder *f = (mem_folder *)ctx;
    check_written(path, MAX_DEPTH);
    std::string key = fs_key(path);
    std::string parent = key.substr(0, key.rfind('\\'));
    // As on disk: no folder where a file stands, nor in a folder that was never made.
    if (!f->files.count(key) && (f->dirs.empty() || f->dirs.count(parent))) f->dirs.insert(key);
}

static void *mem_create(void *ctx, const char *path) {
    mem_folder *f = (mem_folder *)ctx;
    check_written(path, MAX_DEPTH + 1);
    std::string key = fs_key(path);
    if (f->dirs.count(key) || !f->dirs.count(key.substr(0, key.rfind('\\')))) return NULL;
    FUZZ_CHECK(!f->files.count(key), "'%s' written twice", path);
    return &f->files.emplace(key, 0).first->second;
}

static int mem_write(void *ctx, void *file, const void *, uint32_t len) {
    FUZZ_CHECK(len > 0 && len <= ISO_COPY_SECTORS * ISO_SECTOR, "a write of %u bytes", len);
    *(uint64_t *)file += len;
    ((mem_folder *)ctx)->bytes += len;
    return 1;
}

static int mem_close(void *, void *) { return 1; }

static void count_progress(uint64_t done, uint64_t, void *user) { *(uint64_t *)user = done; }

static void check_copy(mem_image *m, const iso_volume *v, uint64_t total) {
    mem_folder f;
    iso_sink sink = {mem_make_dir, mem_create, mem_write, mem_close, &f};
    uint64_t reported = 0;
    progress p = {0, total, count_progress, &reported};
    walk_begins(m, 0);
    m->copying = 1;
    int ok = iso_vol_copy(v, v->root_lba, v->root_size, 0, k_dest, &sink, &p);
    FUZZ_CHECK(reported == f.bytes && p.done == f.bytes, "progress %llu for %llu bytes written",
               (unsigned long long)p.done, (unsigned long long)f.bytes);
    // A finished copy wrote exactly the total; one that stopped, no more than it.
    FUZZ_CHECK(ok ? f.bytes == total : f.bytes <= total, "copy %s: %llu bytes written, total %llu", ok ? "done" : "stopped",
               (unsigned long long)f.bytes, (unsigned long long)total);
}

static int same_name(const std::string &a, const char *b) { return strcasecmp(a.c_str(), b) == 0; }

static void check_find(mem_image *m, const iso_volume *v, const std::string &path) {
    iso_entry e;
    memset(&e, 0x5A, sizeof e);
    walk_begins(m, 0);
    int found = iso_vol_find(v, path.c_str(), &e);
    // At most one directory read per name of the path, however the records point.
    FUZZ_CHECK(m->reads <= (path.size() + 1) * m->sectors, "iso_find read %llu sectors for '%s'", (unsigned long long)m->reads,
               path.c_str());
    if (path.empty()) {
        FUZZ_CHECK(found == 1 && (uint8_t)e.name[0] == 0x5A, "the empty path is the root, out untouched");
        return;
    }
    if (!found) return;
    FUZZ_CHECK(memchr(e.name, 0, sizeof e.name), "an unterminated name");
    size_t cut = path.find_last_of("\\/", path.find_last_not_of("\\/"));
    std::string last = path.substr(cut == std::string::npos ? 0 : cut + 1);
    last = last.substr(0, last.find_first_of("\\/"));
    if (last.size() <= 63) FUZZ_CHECK(same_name(last, e.name), "'%s' found as '%s'", path.c_str(), e.name);
}

static void check_listing(iso_entry *list, int count, uint32_t len) {
    FUZZ_CHECK(list != NULL, "no listing");
    FUZZ_CHECK(count >= 0 && (uint64_t)count <= len / ISO_RECORD_MIN, "%d entries in %u bytes", count, len);
    for (int i = 0; i < count; i++) {
        FUZZ_CHECK(memchr(list[i].name, 0, sizeof list[i].name), "an unterminated name");
        FUZZ_CHECK(!strchr(list[i].name, ';'), "a version left in '%s'", list[i].name);
    }
    free(list);
}

// The input as one directory's data in a heap block of exactly its length: the walks hand the
// record parser whole sectors, where a read past the directory's end would go unseen.
static void check_records(const uint8_t *data, size_t size) {
    if (size == 0 || size > ISO_DIR_MAX) return;
    std::vector<uint8_t> copy(data, data + size);
    int count;
    iso_entry *list = iso_parse_dir(copy.data(), (uint32_t)size, &count);
    check_listing(list, count, (uint32_t)size);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    check_records(data, size);
    mem_image m;
    m.data = data;
    m.size = size;
    m.first = size >= 6 && data[0] == 1 && memcmp(data + 1, "CD001", 5) == 0 ? PVD_SECTOR : 0;
    m.sectors = m.first + iso_sectors((uint32_t)(size < 0xFFFFFFFFu ? size : 0xFFFFFFFFu));
    if (m.sectors <= PVD_SECTOR) return 0;

    iso_volume v = {mem_read, &m, m.sectors, 0, 0};
    uint8_t pvd[ISO_SECTOR];
    walk_begins(&m, 0);
    mem_read(&m, PVD_SECTOR, 1, pvd);
    if (!iso_read_pvd(pvd, &v.root_lba, &v.root_size)) return 0;

    int count, readable;
    iso_entry *root = iso_vol_dir(&v, v.root_lba, v.root_size, &count, &readable);
    check_listing(root, count, v.root_size);

    walk_begins(&m, 1);
    uint64_t total = iso_vol_total(&v, v.root_lba, v.root_size, 0);

    listed l;
    cd_lister lister = {on_dir, on_file, &l};
    walk_begins(&m, 1);
    iso_vol_list(&v, &lister);
    // The progress total of an install is the sum of what its copy writes.
    FUZZ_CHECK(total == l.file_bytes, "total %llu, listed files %llu", (unsigned long long)total,
               (unsigned long long)l.file_bytes);
    check_copy(&m, &v, total);

    std::vector<std::string> paths = {"", "\\", "/X", "A/B\\", std::string(100, 'A') + "\\B"};
    for (size_t i = 0; i < l.paths.size() && i < FIND_PATHS; i++) paths.push_back(l.paths[i]);
    for (const std::string &p : paths) check_find(&m, &v, p);
    return 0;
}
