#include "platform/posix/VirtualPortRegistry.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vports {
namespace {

std::string EntryPath(pid_t pid) {
    return RegistryDirectory() + "/" + std::to_string(pid) + ".port";
}

bool ProcessAlive(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

} // namespace

std::string RegistryDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && fs::is_directory(runtime)) {
        return std::string(runtime) + "/klt-ports";
    }
    return "/tmp/klt-ports-" + std::to_string(::getuid());
}

bool Register(const std::string& portName, const std::string& description) {
    const std::string directory = RegistryDirectory();
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    // Written under a temporary name and renamed, so a reader never sees half an entry.
    const std::string path = EntryPath(::getpid());
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << portName << '\n' << description << '\n';
        if (!out.flush()) {
            std::error_code ignored;
            fs::remove(temp, ignored);
            return false;
        }
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

void Unregister() {
    std::error_code ignored;
    fs::remove(EntryPath(::getpid()), ignored);
}

std::vector<Entry> List() {
    std::vector<Entry> entries;
    std::error_code error;
    for (const auto& file : fs::directory_iterator(RegistryDirectory(), error)) {
        const fs::path& path = file.path();
        if (path.extension() != ".port") {
            continue;
        }
        char* end = nullptr;
        const std::string stem = path.stem().string();
        const long pid = std::strtol(stem.c_str(), &end, 10);
        if (end == stem.c_str() || *end != '\0') {
            continue;
        }
        if (!ProcessAlive(static_cast<pid_t>(pid))) {
            std::error_code ignored;
            fs::remove(path, ignored);
            continue;
        }
        std::ifstream in(path, std::ios::binary);
        Entry entry;
        if (std::getline(in, entry.portName) && !entry.portName.empty()) {
            std::getline(in, entry.description);
            entries.push_back(std::move(entry));
        }
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.portName < b.portName; });
    return entries;
}

} // namespace vports
