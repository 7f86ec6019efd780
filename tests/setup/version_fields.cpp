// version_fields FILE: the version information of a program as Windows reads it (GetFileVersionInfoA
// and VerQueryValueA), one "name: value" line each: the fixed file and product versions, the
// languages of the translation table, and the strings of the first of them.
#include <windows.h>
#include <stdio.h>

#include <vector>

static const char *const names[] = {"CompanyName",      "FileDescription", "FileVersion", "LegalCopyright",
                                    "OriginalFilename", "ProductName",     "ProductVersion"};

int main(int argc, char **argv) {
    if (argc != 2) {
        fputs("usage: version_fields FILE\n", stderr);
        return 2;
    }
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(argv[1], &ignored);
    std::vector<char> info(size ? size : 1);
    if (!size || !GetFileVersionInfoA(argv[1], 0, size, info.data())) {
        fprintf(stderr, "version_fields: %s has no version information\n", argv[1]);
        return 1;
    }
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT n = 0;
    if (VerQueryValueA(info.data(), "\\", (void **)&fixed, &n) && fixed) {
        printf("fixed file version: %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
               HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
        printf("fixed product version: %u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS),
               LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
    }
    struct translation {
        WORD language, codepage;
    } *t = NULL;
    if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", (void **)&t, &n) || n < sizeof *t) {
        fprintf(stderr, "version_fields: %s has no translation table\n", argv[1]);
        return 1;
    }
    for (UINT i = 0; i < n / sizeof *t; i++) printf("language: %u codepage %u\n", t[i].language, t[i].codepage);
    for (const char *name : names) {
        char key[128];
        snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\%s", t[0].language, t[0].codepage, name);
        char *value = NULL;
        if (VerQueryValueA(info.data(), key, (void **)&value, &n) && value) printf("%s: %s\n", name, value);
    }
    return 0;
}
