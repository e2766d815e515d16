#include "document/KLTDoc.h"

#include "reception/Cp932.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t IO_BLOCK = 1 << 20;
constexpr std::size_t READ_BLOCK = 64 << 10;
constexpr std::size_t TEMP_STEM_MAX = 200;

std::error_code LastError() {
    return {errno, std::generic_category()};
}

bool WriteAll(int fd, const char* data, std::size_t size, std::error_code& error) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = LastError();
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A save through a symbolic link replaces the file it points to, not the link.
std::string ResolveLink(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) {
            return resolved;
        }
    }
    return path;
}

} // namespace

CKLTDoc::CKLTDoc() {
    ClearHistory();
}

void CKLTDoc::ClearHistory() {
    m_nMaxLength = 0;
    std::string().swap(m_strPending);
    m_nPendingScanned = 0;
    m_arrLines.RemoveAll();
    SetModifiedFlag(false);
}

bool CKLTDoc::OnNewDocument() {
    DeleteContents();
    m_strPathName.clear();
    m_strTitle = UNTITLED;
    SetModifiedFlag(false);
    return true;
}

void CKLTDoc::SetPathName(const std::string& path) {
    m_strPathName = path;
    m_strTitle = FileNameOf(path);
}

void CKLTDoc::AddLine(std::string_view line) {
    m_arrLines.Add(line);
    if (line.size() > static_cast<std::size_t>(m_nMaxLength)) {
        m_nMaxLength = static_cast<int>(std::min<std::size_t>(line.size(), INT_MAX));
    }
}

void CKLTDoc::AppendText(std::string_view text) {
    m_strPending.append(text);

    // Step through the pending text one Shift-JIS character at a time looking for CR LF;
    // a lead byte and the byte after it are one character, so a lone lead byte swallows a
    // following CR and that CR LF ends no line. The search resumes where the last call
    // stopped (always a character boundary), so a long unfinished line is not rescanned.
    const std::string_view pending(m_strPending);
    std::size_t lineStart = 0;
    std::size_t pos = std::min(m_nPendingScanned, pending.size());
    while (pos < pending.size()) {
        const auto byte = static_cast<unsigned char>(pending[pos]);
        if (byte == '\r') {
            if (pos + 1 == pending.size()) {
                break; // the LF may come with the next chunk
            }
            if (pending[pos + 1] == '\n') {
                AddLine(pending.substr(lineStart, pos - lineStart));
                pos += 2;
                lineStart = pos;
                continue;
            }
            ++pos;
        } else if (cp932::IsLeadByte(byte)) {
            if (pos + 1 == pending.size()) {
                break; // its second byte is still to come
            }
            pos += 2;
        } else {
            ++pos;
        }
    }
    m_strPending.erase(0, lineStart);
    m_nPendingScanned = pos - lineStart;
    SetModifiedFlag(true);
}

bool CKLTDoc::WriteTo(int fd, std::error_code& error) const {
    std::string block;
    // A small history needs no megabyte of buffer.
    block.reserve(std::min(IO_BLOCK, m_arrLines.ByteSize() + 2 * m_arrLines.GetSize()) + 2);
    for (std::size_t i = 0; i < m_arrLines.GetSize(); ++i) {
        const std::string_view line = m_arrLines[i];
        if (line.size() >= IO_BLOCK) {
            if (!WriteAll(fd, block.data(), block.size(), error) ||
                !WriteAll(fd, line.data(), line.size(), error)) {
                return false;
            }
            block.assign("\r\n");
            continue;
        }
        if (block.size() + line.size() + 2 > IO_BLOCK) {
            if (!WriteAll(fd, block.data(), block.size(), error)) {
                return false;
            }
            block.clear();
        }
        block.append(line);
        block.append("\r\n");
    }
    return WriteAll(fd, block.data(), block.size(), error);
}

bool CKLTDoc::SaveToFile(const std::string& requestedPath, std::error_code& error) const {
    const std::string path = ResolveLink(requestedPath);
    const std::string directory = DirectoryOf(path);

    struct stat existing {};
    const bool replacing = ::stat(path.c_str(), &existing) == 0;
    if (replacing && S_ISDIR(existing.st_mode)) {
        error = std::make_error_code(std::errc::is_a_directory);
        return false;
    }
    // The rename would replace a write-protected file as easily as any other; refuse as
    // writing into it would.
    if (replacing && ::access(path.c_str(), W_OK) != 0) {
        error = LastError();
        return false;
    }

    // The temporary name must fit in a directory entry even when the target's name nearly
    // fills one.
    const std::string tempStem = FileNameOf(path).substr(0, TEMP_STEM_MAX);
    std::string tempPath = directory + "/." + tempStem + ".XXXXXX";
    std::vector<char> tempName(tempPath.begin(), tempPath.end());
    tempName.push_back('\0');
    const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0) {
        error = LastError();
        return false;
    }
    tempPath = tempName.data();

    // mkstemp makes the file private; give it the old file's mode, or the usual one.
    mode_t mode = 0666;
    if (replacing) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }

    bool ok = ::fchmod(fd, mode) == 0 || (error = LastError(), false);
    ok = ok && WriteTo(fd, error);
    ok = ok && (::fsync(fd) == 0 || (error = LastError(), false));
    if (::close(fd) != 0 && ok) {
        error = LastError();
        ok = false;
    }
    ok = ok && (::rename(tempPath.c_str(), path.c_str()) == 0 || (error = LastError(), false));
    if (!ok) {
        ::unlink(tempPath.c_str());
        return false;
    }

    // Make the rename itself durable.
    const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    error.clear();
    return true;
}

bool CKLTDoc::LoadFromFile(const std::string& path, std::error_code& error) {
    // The history is only replaced once the file is open: a file that cannot be read at
    // all must not cost the user the history on screen.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = LastError();
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        error = std::make_error_code(std::errc::is_a_directory);
        return false;
    }
    const std::size_t sizeHint = S_ISREG(info.st_mode) ? static_cast<std::size_t>(info.st_size) : 0;
    const bool ok = ReadFrom(fd, error, sizeHint);
    ::close(fd);
    return ok;
}

bool CKLTDoc::ReadFrom(int fd, std::error_code& error, std::size_t sizeHint) {
    ClearHistory();
    if (sizeHint > 0) {
        // Reserving the file's size up front avoids regrowing copies of a large history;
        // typical history lines are a few dozen bytes.
        m_arrLines.Reserve(sizeHint / 40 + 16, sizeHint);
    }
    std::vector<char>& bytes = m_arrLines.m_bytes;
    std::vector<std::size_t>& ends = m_arrLines.m_ends;
    std::vector<char> block(READ_BLOCK);
    std::size_t lineStart = bytes.size();

    const auto endLine = [&] {
        std::size_t end = bytes.size();
        if (end > lineStart && bytes[end - 1] == '\r') {
            bytes.pop_back(); // CR LF ends the line like LF alone
            --end;
        }
        ends.push_back(end);
        if (end - lineStart > static_cast<std::size_t>(m_nMaxLength)) {
            m_nMaxLength = static_cast<int>(std::min<std::size_t>(end - lineStart, INT_MAX));
        }
        lineStart = end;
    };
    const auto appendPart = [&](const char* begin, const char* end) {
        while (begin < end) {
            const char* zero = static_cast<const char*>(std::memchr(begin, 0, end - begin));
            const char* stop = zero ? zero : end;
            bytes.insert(bytes.end(), begin, stop);
            begin = zero ? zero + 1 : end;
        }
    };

    for (;;) {
        const ssize_t got = ::read(fd, block.data(), block.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = LastError();
            ClearHistory();
            return false;
        }
        if (got == 0) {
            break;
        }
        const char* pos = block.data();
        const char* end = pos + got;
        while (pos < end) {
            const char* lf = static_cast<const char*>(std::memchr(pos, '\n', end - pos));
            if (!lf) {
                appendPart(pos, end);
                break;
            }
            appendPart(pos, lf);
            endLine();
            pos = lf + 1;
        }
    }
    if (bytes.size() > lineStart) {
        ends.push_back(bytes.size()); // the last line needs no line end
        const std::size_t length = bytes.size() - lineStart;
        if (length > static_cast<std::size_t>(m_nMaxLength)) {
            m_nMaxLength = static_cast<int>(std::min<std::size_t>(length, INT_MAX));
        }
    }
    error.clear();
    return true;
}
