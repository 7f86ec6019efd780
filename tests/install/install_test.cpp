#include <gtest/gtest.h>

#include "install/install.h"
#include "support.h"

// This test program carries no game executable, unlike the setup.
TEST(do_install, refuses_a_setup_without_the_game_executable) {
    EXPECT_EQ(prebuilt_available(), 0);
    log_capture log;
    setup_opts o = {};
    snprintf(o.cd, sizeof o.cd, "%s", testdata("gamecd\\gamecd.iso").c_str());
    std::string dir = temp_dir("nogame") + "\\install";
    snprintf(o.dir, sizeof o.dir, "%s", dir.c_str());
    EXPECT_EQ(do_install(&o, NULL, NULL), 0);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Install to " + dir,
                                                     "ERROR: this setup does not contain the game executable"}));
    EXPECT_FALSE(exists(dir));
}
