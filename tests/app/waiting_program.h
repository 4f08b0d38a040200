#pragma once

// A program that only waits, started under a given file name, for the tests
// of what the updater does with the companion process.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/shell.h"

namespace waiting_program {

// Starts a copy of a program that only waits, under the given file name:
// sleep here, a stand-in built for the tests on Windows, started the way the
// updater starts programs. False when it could not be started.
inline bool Start(const std::string& path) {
    namespace fs = std::filesystem;
#ifdef _WIN32
    if (!fs::exists(path)) fs::copy_file(QUENDAL_M_STANDIN, path);
    return platform::ShellOpen(path);
#else
    if (!fs::exists(path)) fs::copy_file("/bin/sleep", path);
    return std::system(("'" + path + "' 60 &").c_str()) == 0;
#endif
}

// Polls for up to five seconds; whether `done` came true.
template <typename Predicate>
bool WaitFor(Predicate done) {
    for (int i = 0; i < 200 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    return done();
}

}  // namespace waiting_program
