#include "core/io/FileIO.h"

namespace kltio {
namespace {

// Standard output is written as it goes; there is nothing to finish.
class CStandardOutput : public COutput {
public:
    CStandardOutput() : m_pOut(StandardOutput()) {}
    bool Write(const char* data, std::size_t size, std::error_code& error) override {
        return m_pOut->Write(data, size, error);
    }
    bool Commit(std::error_code& error) override {
        error.clear();
        return true;
    }

private:
    std::unique_ptr<CByteWriter> m_pOut;
};

} // namespace

std::unique_ptr<COutput> OpenForWriting(const std::string& path, OtherNodes others, bool& notAFile,
                                        std::error_code& error) {
    notAFile = false;
    if (others == OtherNodes::WriteInPlace && path == "-") {
        return std::make_unique<CStandardOutput>();
    }
    switch (ClassifyPath(path)) {
    case NodeKind::Missing:
    case NodeKind::Regular:
        return CAtomicFile::Create(path, error);
    case NodeKind::Directory:
        error = std::make_error_code(std::errc::is_a_directory);
        return nullptr;
    case NodeKind::Device:
    case NodeKind::Other:
        break;
    }
    // A device, a FIFO or a socket: renaming a file over it would destroy the node.
    if (others == OtherNodes::Refuse) {
        notAFile = true;
        error = std::make_error_code(std::errc::invalid_argument);
        return nullptr;
    }
    return OpenInPlace(path, error);
}

} // namespace kltio
