#include "import_swap.h"

#include <windows.h>
#include <stdint.h>
#include <string.h>

// The slot of the import address table that holds dll!name in this program, or null.
static void **import_slot(const char *dll, const char *name) {
    uint8_t *base = (uint8_t *)GetModuleHandleA(NULL);
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return nullptr;
    for (IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress); d->Name; d++) {
        if (_stricmp((const char *)(base + d->Name), dll) != 0) continue;
        IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + d->OriginalFirstThunk);
        IMAGE_THUNK_DATA *slots = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            IMAGE_IMPORT_BY_NAME *by = (IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
            if (strcmp((const char *)by->Name, name) == 0) return (void **)&slots->u1.Function;
        }
    }
    return nullptr;
}

static void write_slot(void **slot, void *value) {
    DWORD was;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, was, &was);
}

import_swap::import_swap(const char *dll, const char *name, void *replacement)
    : slot(import_slot(dll, name)), original(nullptr) {
    if (!slot) return;
    original = *slot;
    write_slot(slot, replacement);
}

import_swap::~import_swap() {
    if (slot) write_slot(slot, original);
}

BOOL WINAPI write_fails_disk_full(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
    *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}
