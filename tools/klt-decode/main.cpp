// klt-decode: turns a raw print stream, captured from the machine with any serial logger,
// into the history text file that KLT would save for it.
#include "core/document/KLTDoc.h"
#include "core/io/FileIO.h"
#include "core/reception/ChunkText.h"
#include "core/reception/ComAPI.h"
#include "core/res/Version.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

constexpr const char* USAGE = R"(Usage: klt-decode [INPUT [OUTPUT]]

Decodes a machine's raw print stream (as captured from its serial line) into the
operation history text file that KLT saves: Shift-JIS lines ending in CR LF.
Text after the last line end is left out, as KLT leaves it out when saving.

  INPUT    the captured stream; standard input when omitted or "-"
  OUTPUT   the history file to write; standard output when omitted or "-".
           A file is replaced only once the whole history has been written; a
           device or a FIFO is written into as it stands.
  -h, --help     show this help
      --version  show the version

Exit status: 0 done, 1 a file could not be read or written, 2 wrong usage.
)";

int Fail(const std::string& name, const std::error_code& error) {
    std::fprintf(stderr, "klt-decode: %s: %s\n", name.c_str(), error.message().c_str());
    return 1;
}

int Usage(const std::string& problem) {
    std::fprintf(stderr, "klt-decode: %s\nTry 'klt-decode --help'.\n", problem.c_str());
    return 2;
}

// Lines are written out once this many bytes of them have gathered.
constexpr std::size_t WRITE_BLOCK = 256 << 10;

// Decodes the stream the way the reception does (reads of at most RX_BUFFER_SIZE bytes, each
// decoded, stripped of its zero bytes and appended to the history) and writes each line as
// soon as it is complete, so memory follows the longest line, not the stream.
bool Decode(kltio::CByteReader& in, kltio::CByteWriter& out, std::error_code& readError,
            std::error_code& writeError) {
    CComAPI com;
    CKLTDoc doc;
    std::vector<std::uint8_t> block(64 * CComAPI::RX_BUFFER_SIZE);
    std::uint8_t decoded[CComAPI::DECODED_BUFFER_SIZE];
    const auto flush = [&] {
        const bool written = doc.WriteTo(out, writeError);
        doc.m_arrLines.RemoveAll();
        return written;
    };
    for (;;) {
        std::size_t got = 0;
        if (!in.Read(reinterpret_cast<char*>(block.data()), block.size(), got, readError)) {
            return false;
        }
        if (got == 0) {
            return flush();
        }
        for (std::size_t pos = 0; pos < got; pos += CComAPI::RX_BUFFER_SIZE) {
            const std::size_t length = std::min(CComAPI::RX_BUFFER_SIZE, got - pos);
            std::size_t size = com.DecodeBytes(block.data() + pos, length, decoded);
            size = RemoveZeroBytes(decoded, size);
            doc.AppendText(std::string_view(reinterpret_cast<const char*>(decoded), size));
        }
        if (doc.m_arrLines.ByteSize() >= WRITE_BLOCK && !flush()) {
            return false;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (!optionsEnded && arg == "--version") {
            std::puts("klt-decode " KLT_VERSION);
            return 0;
        }
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option '" + arg + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() > 2) {
        return Usage("too many arguments");
    }
    const std::string input = files.size() > 0 ? files[0] : "-";
    const std::string output = files.size() > 1 ? files[1] : "-";

    std::error_code error;
    bool notAFile = false;
    const std::unique_ptr<kltio::CByteReader> in =
        kltio::OpenForReading(input, false, notAFile, error);
    const std::string inputName = input == "-" ? "standard input" : input;
    if (!in) {
        return Fail(inputName, error);
    }
    // A regular file (or a new name) is replaced only once it is complete; a device or a FIFO
    // is written as it stands.
    const std::unique_ptr<kltio::COutput> out =
        kltio::OpenForWriting(output, kltio::OtherNodes::WriteInPlace, notAFile, error);
    const std::string outputName = output == "-" ? "standard output" : output;
    if (!out) {
        return Fail(outputName, error);
    }
    std::error_code readError;
    if (!Decode(*in, *out, readError, error)) {
        return readError ? Fail(inputName, readError) : Fail(outputName, error);
    }
    if (!out->Commit(error)) {
        return Fail(outputName, error);
    }
    return 0;
}
