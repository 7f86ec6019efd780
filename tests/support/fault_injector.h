// Makes one platform or allocator call of the code under test fail: the calls are counted while the
// injector is armed, and call number fail_at fails the way the platform fails (ERROR_DISK_FULL for
// writes, ERROR_READ_FAULT for reads, ERROR_ACCESS_DENIED for the rest, null from the allocator).
// It replaces the calls in this program's import table, so only the code linked into the test
// program is affected, never the platform's own use of them. Every call is also recorded with the
// path it concerns, so that a test can see where the code wrote.
#pragma once
#include <string>
#include <vector>

struct fault_call {
    const char *name;  // the platform function
    std::string path;  // the file or folder it concerns (for a handle: the path it was opened with)
    bool writes;       // creates, changes or deletes what path names
};

struct fault_injector {
    long fail_at = 0;  // 0: nothing fails
    long calls = 0;    // counted while armed
    bool armed = false;
    // false: the allocator is neither counted nor failed. The decoder libraries linked in use some of
    // their allocations unchecked (libvorbis' vorbis_info_init, opusfile's op_open1), so a null from
    // the allocator inside them ends the process whatever their caller does.
    bool allocator = true;
    const char *failed = nullptr;  // the function that was made to fail
    std::vector<fault_call> log;   // every counted call, in order

    void arm(long at, bool with_allocator = true) {
        fail_at = at;
        allocator = with_allocator;
        calls = 0;
        failed = nullptr;
        log.clear();
        armed = true;
    }
    void disarm() { armed = false; }
};

// The one injector of the program; its swaps are made on first use and last until the program ends.
fault_injector &faults(void);
