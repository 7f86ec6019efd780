// Helpers for the tests that run under Wine: temporary folders, test data paths, file bytes,
// and a log captured into a file.
#pragma once
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

// A new empty folder under the temporary folder, unique to this process and call.
std::string temp_dir(const char *tag);
// A folder of test data made by make-testdata.sh, or one of the third-party inputs in tests/data/third_party.
std::string testdata(const char *rel);
std::string fixture(const char *rel);

std::string slurp(const std::string &path);
void spit(const std::string &path, const std::string &bytes);
bool exists(const std::string &path);

// Points the setup's log at a file for the life of the object.
struct log_capture {
    std::string path;
    log_capture();
    ~log_capture();
    std::string text();                 // everything logged so far, with "\n" line ends
    std::vector<std::string> lines();
};

// The game executable as this test program carries it (resource "GAMEEXE"), or "" without one.
std::string carried_game_exe();
