#pragma once

#include <string>

// What the command line asked for.
struct CaptureOptions {
    std::string port;         // as the serial link opens it: ttyUSB0, pts/3 or a path
    std::string output = "-"; // once: the history file, "-" for standard output
    std::string watchFolder;  // watch: where every history lands; empty in once mode
    bool utf8 = false;        // also write a UTF-8 copy
    unsigned markerTimeoutMs = 30000;

    bool Watching() const { return !watchFolder.empty(); }
};

// Exit statuses.
constexpr int EXIT_RECEIVED = 0;
constexpr int EXIT_PORT_OR_FILE_ERROR = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_TIMED_OUT = 3;
constexpr int EXIT_CONNECTION_LOST = 4;

// Runs the reception(s) the options ask for and returns the exit status.
int RunCapture(const CaptureOptions& options);
