#pragma once

#include <functional>
#include <memory>

// The operating system asking the process to end: a logout, a shutdown, `kill`, Ctrl+C in the
// terminal it was started from. The platform layer implements it.
namespace kltapp {

// While it exists, requests to end no longer end the process at once: each is reported to
// the callback instead, on a thread of the watch's own (never in a signal handler), and the
// caller ends the process itself once its data are safe. Destroying the watch restores the
// platform's usual handling. One watch at a time.
class CTerminationWatch {
public:
    virtual ~CTerminationWatch() = default;
};

// The callback receives the platform's number of the request (a signal number on POSIX).
// Null when the watch cannot be set up.
std::unique_ptr<CTerminationWatch> WatchTermination(std::function<void(int)> onRequest);

} // namespace kltapp
