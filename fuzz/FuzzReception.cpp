// Fuzzes the reception's whole path: raw stream -> decoder (in reads of a size the input
// chooses) -> zero-byte removal -> AppendText -> save -> load. The first input byte picks
// the read size; the rest is the stream.
#include "core/document/KLTDoc.h"
#include "core/reception/ChunkText.h"
#include "core/reception/ComAPI.h"
#include "core/text/Cp932.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

std::string g_folder;

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

Lines LinesOf(const CKLTDoc& doc) {
    Lines lines;
    for (std::size_t i = 0; i < doc.GetLineCount(); ++i) {
        lines.emplace_back(doc.GetLine(i));
    }
    return lines;
}

int LongestOf(const Lines& lines) {
    std::size_t longest = 0;
    for (const auto& line : lines) {
        longest = std::max(longest, line.size());
    }
    return static_cast<int>(longest);
}

// What the loader must make of a file: LF or CR LF ends a line, the last needs neither.
Lines SplitAsFile(const std::string& bytes) {
    Lines lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t lf = bytes.find('\n', start);
        const bool ended = lf != std::string::npos;
        std::size_t end = ended ? lf : bytes.size();
        if (ended && end > start && bytes[end - 1] == '\r') {
            --end;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = ended ? lf + 1 : bytes.size();
    }
    return lines;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void RemoveFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(g_folder, ignored);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every input is saved and loaded; a memory-backed folder keeps the fsyncs cheap.
    const std::filesystem::path base = std::filesystem::exists("/dev/shm")
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (base / "klt-fuzz-XXXXXX").string();
    Require(::mkdtemp(pattern.data()) != nullptr, "temporary folder");
    g_folder = pattern;
    std::atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t readSize = data[0] % CComAPI::RX_BUFFER_SIZE + 1;
    const std::uint8_t* stream = data + 1;
    const std::size_t length = size - 1;

    // The stream in one piece, and the plain line split of its zero-free text.
    CComAPI whole;
    std::vector<std::uint8_t> wholeText(2 * length + 1);
    wholeText.resize(whole.DecodeBytes(stream, length, wholeText.data()));
    CComAPI single;
    std::vector<std::uint8_t> singleText;
    for (std::size_t i = 0; i < length; ++i) {
        std::uint8_t out[2];
        singleText.insert(singleText.end(), out, out + single.DecodeByte(stream[i], out));
    }
    Require(singleText == wholeText && single.DecodeMode() == whole.DecodeMode() &&
                single.JisHigh() == whole.JisHigh(),
            "bulk decoding matches DecodeByte byte by byte");

    std::string pending;
    for (auto byte : wholeText) {
        if (byte != 0) {
            pending += static_cast<char>(byte);
        }
    }
    Lines expected;
    for (std::size_t pair; (pair = cp932::Find(pending, "\r\n")) != std::string::npos;) {
        expected.push_back(pending.substr(0, pair));
        pending.erase(0, pair + 2);
    }

    // The same stream as the reception sees it, read by read.
    CComAPI com;
    CKLTDoc doc;
    std::vector<std::uint8_t> decodedText;
    std::uint8_t chunk[CComAPI::DECODED_BUFFER_SIZE];
    for (std::size_t pos = 0; pos < length; pos += readSize) {
        const std::size_t count = std::min(readSize, length - pos);
        std::size_t got = com.DecodeBytes(stream + pos, count, chunk);
        Require(got <= 2 * count, "a read decodes to at most twice its bytes");
        decodedText.insert(decodedText.end(), chunk, chunk + got);
        got = RemoveZeroBytes(chunk, got);
        Require(std::find(chunk, chunk + got, 0) == chunk + got, "no zero byte left");
        doc.AppendText(std::string_view(reinterpret_cast<const char*>(chunk), got));
    }
    Require(decodedText == wholeText, "reads decode like one piece");
    Require(com.DecodeMode() == whole.DecodeMode() && com.JisHigh() == whole.JisHigh() &&
                com.JisLow() == 0,
            "decoder state after the stream");

    const Lines lines = LinesOf(doc);
    Require(lines == expected, "lines match the plain split");
    Require(doc.m_strPending == pending, "pending text matches the plain split");
    Require(doc.m_nMaxLength == LongestOf(lines), "m_nMaxLength is the longest line");
    Require(cp932::Find(doc.m_strPending, "\r\n") == std::string::npos, "pending has no CR LF");
    bool hasLf = false;
    for (const auto& line : lines) {
        Require(line.find('\0') == std::string::npos, "no line holds a zero byte");
        Require(cp932::Find(line, "\r\n") == std::string::npos, "no line holds a CR LF");
        hasLf = hasLf || line.find('\n') != std::string::npos;
    }

    // Save and load back.
    const std::string path = g_folder + "/history.txt";
    std::error_code error;
    Require(doc.SaveToFile(path, error), "save");
    std::string file;
    for (const auto& line : lines) {
        file += line + "\r\n";
    }
    Require(ReadFile(path) == file, "the file is every line followed by CR LF");

    CKLTDoc loaded;
    Require(loaded.LoadFromFile(path, error), "load");
    const Lines back = LinesOf(loaded);
    Require(back == SplitAsFile(file), "load ends lines at LF or CR LF");
    // A line holding an LF of its own (from a lone lead byte before CR LF, or a JIS pair
    // outside the code range) comes back as two lines; every other history comes back whole.
    Require(hasLf || back == lines, "round trip gives the same lines");
    Require(loaded.m_nMaxLength == LongestOf(back), "loaded m_nMaxLength is the longest line");

    // What was loaded saves and loads back exactly.
    Require(loaded.SaveToFile(path, error), "second save");
    CKLTDoc again;
    Require(again.LoadFromFile(path, error) && LinesOf(again) == back, "second round trip");
    return 0;
}
