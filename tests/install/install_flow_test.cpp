#include <gtest/gtest.h>

#include "install/install.h"
#include "support.h"

struct progress_trace {
    std::vector<uint64_t> done, expected;
};

static void trace(uint64_t done, uint64_t expected, void *user) {
    progress_trace *t = (progress_trace *)user;
    t->done.push_back(done);
    t->expected.push_back(expected);
}

// This program carries the game executable like the setup does.
TEST(do_install, progress_has_one_total_and_only_rises) {
    ASSERT_EQ(prebuilt_available(), 1);
    struct {
        const char *source;
        int audio_tracks;
    } cases[] = {
        {"gamecd\\gamecd.iso", 0},
        {"gamecd\\tree", 0},
        {"gamecd\\gamecd.cue", 2},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.source);
        setup_opts o = {};
        snprintf(o.cd, sizeof o.cd, "%s", testdata(c.source).c_str());
        snprintf(o.dir, sizeof o.dir, "%s", (temp_dir("flow") + "\\Drovenhelm").c_str());
        progress_trace t;
        log_capture log;
        ASSERT_EQ(do_install(&o, trace, &t), 1);
        ASSERT_FALSE(t.done.empty());
        for (size_t i = 0; i < t.done.size(); i++) {
            EXPECT_EQ(t.expected[i], t.expected[0]);
            if (i) EXPECT_GE(t.done[i], t.done[i - 1]);
        }
        // The WAV headers are written but not counted.
        EXPECT_EQ(t.done.back(), t.expected[0] - 44u * c.audio_tracks);
        EXPECT_EQ(log.lines().back(), "Done.");
    }
}
