#include "HistoryOutput.h"

#include "core/document/KLTDoc.h"
#include "core/io/FileIO.h"
#include "core/text/Cp932Utf8.h"

#include <string_view>

namespace history_output {
namespace {

// Collects the bytes of the history file in memory, for the UTF-8 copy.
class CStringWriter : public kltio::CByteWriter {
public:
    bool Write(const char* data, std::size_t size, std::error_code&) override {
        m_text.append(data, size);
        return true;
    }
    std::string m_text;
};

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The output rule of every tool: a file is replaced only once complete, a device or a FIFO
// is written into as it stands, "-" is standard output.
bool WriteOutput(const std::string& path, std::string_view bytes, std::error_code& error) {
    bool notAFile = false;
    const std::unique_ptr<kltio::COutput> out =
        kltio::OpenForWriting(path, kltio::OtherNodes::WriteInPlace, notAFile, error);
    return out && out->Write(bytes.data(), bytes.size(), error) && out->Commit(error);
}

bool IsFileTarget(const std::string& path) {
    const kltio::NodeKind kind = kltio::ClassifyPath(path);
    return path != "-" && (kind == kltio::NodeKind::Missing || kind == kltio::NodeKind::Regular);
}

} // namespace

bool CheckTarget(const std::string& path, std::error_code& error) {
    if (path == "-") {
        return true;
    }
    switch (kltio::ClassifyPath(path)) {
    case kltio::NodeKind::Directory:
        error = std::make_error_code(std::errc::is_a_directory);
        return false;
    case kltio::NodeKind::Missing:
        if (kltio::ClassifyPath(DirectoryOf(path)) != kltio::NodeKind::Directory) {
            error = std::make_error_code(std::errc::no_such_file_or_directory);
            return false;
        }
        return true;
    default:
        return true;
    }
}

std::string FileBytes(const CKLTDoc& doc) {
    CStringWriter text;
    std::error_code ignored; // writing into memory does not fail
    doc.WriteTo(text, ignored);
    return std::move(text.m_text);
}

bool Write(const std::string& bytes, const std::string& path, bool utf8, std::error_code& error) {
    if (!CheckTarget(path, error)) {
        return false;
    }
    if (!IsFileTarget(path)) {
        return WriteOutput(path, utf8 ? cp932::ToUtf8(bytes) : bytes, error);
    }
    return WriteOutput(path, bytes, error) &&
           (!utf8 || WriteOutput(Utf8CopyPath(path), cp932::ToUtf8(bytes), error));
}

std::string PortFileStem(const std::string& port) {
    std::string_view name = port;
    if (name.substr(0, 5) == "/dev/") {
        name.remove_prefix(5);
    } else if (!name.empty() && name.front() == '/') {
        name.remove_prefix(name.rfind('/') + 1);
    }
    std::string stem;
    for (const char c : name) {
        stem.push_back(c == '/' ? '-' : c);
    }
    return stem.empty() ? "port" : stem;
}

std::string NameInFolder(const std::string& folder, const std::string& port, std::time_t when) {
    // Only the event loop's thread names files, and no other thread of the tool reads the
    // clock as calendar time, so the shared result of localtime is safe here.
    const std::tm* now = std::localtime(&when);
    const std::tm local = now ? *now : std::tm{};
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = folder + "/" + PortFileStem(port) + "-" + stamp;
    std::string path = base + ".txt";
    for (int n = 2; kltio::ClassifyPath(path) != kltio::NodeKind::Missing; ++n) {
        path = base + "-" + std::to_string(n) + ".txt";
    }
    return path;
}

std::string Utf8CopyPath(const std::string& path) {
    // The file's name by the platform's separators ('\\' too on Windows).
    const std::string name = kltio::FileNameOfPath(path);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        const std::size_t at = path.size() - name.size() + dot;
        return path.substr(0, at) + ".utf8" + path.substr(at);
    }
    return path + ".utf8.txt";
}

} // namespace history_output
