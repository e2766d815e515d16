#include "core/document/KLTDoc.h"

#include "core/io/FileIO.h"
#include "core/text/Cp932.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t IO_BLOCK = 1 << 20;
constexpr std::size_t READ_BLOCK = 64 << 10;

std::string FileNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
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

bool CKLTDoc::WriteTo(kltio::CByteWriter& out, std::error_code& error) const {
    std::string block;
    // A small history needs no megabyte of buffer.
    block.reserve(std::min(IO_BLOCK, m_arrLines.ByteSize() + 2 * m_arrLines.GetSize()) + 2);
    for (std::size_t i = 0; i < m_arrLines.GetSize(); ++i) {
        const std::string_view line = m_arrLines[i];
        if (line.size() >= IO_BLOCK) {
            if (!out.Write(block.data(), block.size(), error) ||
                !out.Write(line.data(), line.size(), error)) {
                return false;
            }
            block.assign("\r\n");
            continue;
        }
        if (block.size() + line.size() + 2 > IO_BLOCK) {
            if (!out.Write(block.data(), block.size(), error)) {
                return false;
            }
            block.clear();
        }
        block.append(line);
        block.append("\r\n");
    }
    return out.Write(block.data(), block.size(), error);
}

bool CKLTDoc::SaveToFile(const std::string& path, std::error_code& error, bool* notAFile) const {
    bool other = false;
    const std::unique_ptr<kltio::COutput> file =
        kltio::OpenForWriting(path, kltio::OtherNodes::Refuse, other, error);
    if (notAFile) {
        *notAFile = other;
    }
    return file && WriteTo(*file, error) && file->Commit(error);
}

bool CKLTDoc::LoadFromFile(const std::string& path, std::error_code& error) {
    // The history is only replaced once the file is open: a file that cannot be read at
    // all must not cost the user the history on screen.
    bool notAFile = false;
    const std::unique_ptr<kltio::CByteReader> file =
        kltio::OpenForReading(path, false, notAFile, error);
    return file && ReadFrom(*file, error);
}

bool CKLTDoc::ReadFrom(kltio::CByteReader& in, std::error_code& error) {
    ClearHistory();
    const std::size_t sizeHint = static_cast<std::size_t>(in.SizeHint());
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
        std::size_t got = 0;
        if (!in.Read(block.data(), block.size(), got, error)) {
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
