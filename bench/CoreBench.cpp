// Speed and memory of the core against plain baselines measured in the same run:
//   decoding a 64 MB print stream    vs memcpy of the same bytes      (throughput, goal >= 0.25x)
//   loading a 100 MB, 2M-line file   vs reading the file into memory  (time, goal <= 3x)
//   peak memory of that load         vs the file size                 (goal <= 2x)
//   saving that history              vs writing the same bytes        (time, goal <= 2x)
//   looking for other users of a port vs listing every process's descriptors (time, <= 3x)
// Both sides of the save comparison flush to disk, since the save does.
#include "core/document/KLTDoc.h"
#include "core/reception/ChunkText.h"
#include "core/reception/ComAPI.h"
#include "platform/posix/PortUsers.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr std::size_t STREAM_BYTES = 64u << 20;
constexpr std::size_t HISTORY_LINES = 2'000'000;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The long sample stream repeated to 64 MB: realistic text, kanji, commands and zero bytes.
const std::vector<std::uint8_t>& Stream() {
    static const std::vector<std::uint8_t> stream = [] {
        const std::string sample = ReadWhole(KLT_SOURCE_DIR "/samples/long-history.prn");
        if (sample.empty()) {
            std::fprintf(stderr, "samples/long-history.prn is missing\n");
            std::exit(1);
        }
        std::vector<std::uint8_t> bytes;
        bytes.reserve(STREAM_BYTES);
        while (bytes.size() < STREAM_BYTES) {
            const std::size_t take = std::min(sample.size(), STREAM_BYTES - bytes.size());
            bytes.insert(bytes.end(), sample.begin(), sample.begin() + take);
        }
        return bytes;
    }();
    return stream;
}

struct HistoryFile {
    fs::path folder;
    std::string path;
    std::string bytes;
};

void RemoveFolder();

// About 100 MB of 2 million history lines (20 to 81 bytes, Shift-JIS from the sample).
const HistoryFile& History() {
    static const HistoryFile file = [] {
        HistoryFile made;
        std::string pattern = (fs::temp_directory_path() / "klt-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        made.folder = pattern;
        made.path = (made.folder / "history.txt").string();

        std::vector<std::string> sampleLines;
        const std::string sample = ReadWhole(KLT_SOURCE_DIR "/samples/long-history.txt");
        for (std::size_t start = 0, end; (end = sample.find("\r\n", start)) != std::string::npos;
             start = end + 2) {
            sampleLines.push_back(sample.substr(start, end - start));
        }
        made.bytes.reserve(HISTORY_LINES * 53);
        for (std::size_t i = 0; i < HISTORY_LINES; ++i) {
            std::string line = sampleLines[i % sampleLines.size()];
            const std::size_t length = 20 + (i * 7919) % 62;
            while (line.size() < length) {
                line += " 0123456789";
            }
            line.resize(length);
            made.bytes += line;
            made.bytes += "\r\n";
        }
        std::ofstream(made.path, std::ios::binary).write(made.bytes.data(), made.bytes.size());
        std::atexit(RemoveFolder);
        return made;
    }();
    return file;
}

void RemoveFolder() {
    std::error_code ignored;
    fs::remove_all(History().folder, ignored);
}

void BM_MemcpyStream(benchmark::State& state) {
    const auto& stream = Stream();
    std::vector<std::uint8_t> copy(stream.size(), 1);
    for (auto _ : state) {
        std::memcpy(copy.data(), stream.data(), stream.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * stream.size());
}
BENCHMARK(BM_MemcpyStream)->Unit(benchmark::kMillisecond);

// The decoder as the serial link drives it: reads of 512 bytes into a 1024-byte buffer.
void BM_DecodeStream(benchmark::State& state) {
    const auto& stream = Stream();
    std::uint8_t out[CComAPI::DECODED_BUFFER_SIZE];
    for (auto _ : state) {
        CComAPI com;
        std::size_t total = 0;
        for (std::size_t pos = 0; pos < stream.size(); pos += CComAPI::RX_BUFFER_SIZE) {
            const std::size_t length = std::min(CComAPI::RX_BUFFER_SIZE, stream.size() - pos);
            total += com.DecodeBytes(stream.data() + pos, length, out);
            benchmark::DoNotOptimize(out);
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(state.iterations() * stream.size());
}
BENCHMARK(BM_DecodeStream)->Unit(benchmark::kMillisecond);

// For information: a stream of plain ASCII lines, where the decoder copies whole words.
void BM_DecodeAsciiStream(benchmark::State& state) {
    static const std::vector<std::uint8_t> stream = [] {
        std::vector<std::uint8_t> bytes;
        const std::string line = "No.0001 2024/05/13 08:30:12 MOTOR ON  SPEED 120 RPM  TEMP 180C\r";
        while (bytes.size() + line.size() <= STREAM_BYTES) {
            bytes.insert(bytes.end(), line.begin(), line.end());
        }
        return bytes;
    }();
    std::uint8_t out[CComAPI::DECODED_BUFFER_SIZE];
    for (auto _ : state) {
        CComAPI com;
        for (std::size_t pos = 0; pos < stream.size(); pos += CComAPI::RX_BUFFER_SIZE) {
            const std::size_t length = std::min(CComAPI::RX_BUFFER_SIZE, stream.size() - pos);
            benchmark::DoNotOptimize(com.DecodeBytes(stream.data() + pos, length, out));
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(state.iterations() * stream.size());
}
BENCHMARK(BM_DecodeAsciiStream)->Unit(benchmark::kMillisecond);

// The whole reception path for information: decode, zero bytes, AppendText.
void BM_ReceiveStream(benchmark::State& state) {
    const auto& stream = Stream();
    std::uint8_t out[CComAPI::DECODED_BUFFER_SIZE];
    CKLTDoc doc;
    for (auto _ : state) {
        CComAPI com;
        doc.ClearHistory();
        for (std::size_t pos = 0; pos < stream.size(); pos += CComAPI::RX_BUFFER_SIZE) {
            const std::size_t length = std::min(CComAPI::RX_BUFFER_SIZE, stream.size() - pos);
            const std::size_t size =
                RemoveZeroBytes(out, com.DecodeBytes(stream.data() + pos, length, out));
            doc.AppendText(std::string_view(reinterpret_cast<const char*>(out), size));
        }
        benchmark::DoNotOptimize(doc.GetLineCount());
    }
    state.SetBytesProcessed(state.iterations() * stream.size());
}
BENCHMARK(BM_ReceiveStream)->Unit(benchmark::kMillisecond);

void BM_ReadHistoryIntoMemory(benchmark::State& state) {
    const auto& file = History();
    for (auto _ : state) {
        const int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        ::fstat(fd, &info);
        const auto size = static_cast<std::size_t>(info.st_size);
        const std::unique_ptr<char[]> bytes(new char[size]); // uninitialised, like a reserve
        std::size_t got = 0;
        for (ssize_t n; got < size && (n = ::read(fd, bytes.get() + got, size - got)) > 0;) {
            got += static_cast<std::size_t>(n);
        }
        ::close(fd);
        benchmark::DoNotOptimize(bytes.get());
    }
    state.SetBytesProcessed(state.iterations() * file.bytes.size());
}
BENCHMARK(BM_ReadHistoryIntoMemory)->Unit(benchmark::kMillisecond);

void BM_LoadHistory(benchmark::State& state) {
    const auto& file = History();
    for (auto _ : state) {
        CKLTDoc doc;
        std::error_code error;
        if (!doc.LoadFromFile(file.path, error) || doc.GetLineCount() != HISTORY_LINES) {
            state.SkipWithError("load failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * file.bytes.size());
}
BENCHMARK(BM_LoadHistory)->Unit(benchmark::kMillisecond);

void BM_WriteHistoryBytes(benchmark::State& state) {
    const auto& file = History();
    const std::string path = (file.folder / "written.txt").string();
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        for (std::size_t done = 0; done < file.bytes.size();) {
            const ssize_t n = ::write(fd, file.bytes.data() + done, file.bytes.size() - done);
            if (n <= 0) {
                state.SkipWithError("write failed");
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        ::fsync(fd);
        ::close(fd);
    }
    state.SetBytesProcessed(state.iterations() * file.bytes.size());
}
BENCHMARK(BM_WriteHistoryBytes)->Unit(benchmark::kMillisecond);

void BM_SaveHistory(benchmark::State& state) {
    const auto& file = History();
    CKLTDoc doc;
    std::error_code error;
    doc.LoadFromFile(file.path, error);
    const std::string path = (file.folder / "saved.txt").string();
    for (auto _ : state) {
        if (!doc.SaveToFile(path, error)) {
            state.SkipWithError("save failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * file.bytes.size());
}
BENCHMARK(BM_SaveHistory)->Unit(benchmark::kMillisecond);

// The baseline of the port-user search: one pass over /proc that only lists each process's
// descriptors, the least such a search can do.
void BM_ListProcessDescriptors(benchmark::State& state) {
    std::size_t processes = 0;
    for (auto _ : state) {
        std::size_t entries = 0;
        processes = 0;
        DIR* proc = ::opendir("/proc");
        while (const dirent* process = proc ? ::readdir(proc) : nullptr) {
            if (process->d_name[0] < '0' || process->d_name[0] > '9') {
                continue;
            }
            ++processes;
            const std::string folder = std::string("/proc/") + process->d_name + "/fd";
            if (DIR* fds = ::opendir(folder.c_str())) {
                while (::readdir(fds) != nullptr) {
                    ++entries;
                }
                ::closedir(fds);
            }
        }
        if (proc) {
            ::closedir(proc);
        }
        benchmark::DoNotOptimize(entries);
    }
    state.counters["processes"] = static_cast<double>(processes);
}
BENCHMARK(BM_ListProcessDescriptors)->Unit(benchmark::kMillisecond);

// The search for another program that has a port open, for a device that nobody keeps
// open, so the whole pass is made.
void BM_FindOtherOpeners(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(portusers::OpenByOtherProcess("/dev/full"));
    }
}
BENCHMARK(BM_FindOtherOpeners)->Unit(benchmark::kMillisecond);

// Records each benchmark's time per iteration for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (!run.error_occurred) {
                m_times[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatio(const char* what, const char* top, const char* bottom, const char* goal) {
        if (m_times.count(top) && m_times.count(bottom) && m_times[bottom] > 0) {
            std::printf("%-44s %6.2fx   (goal %s)\n", what, m_times[top] / m_times[bottom], goal);
        }
    }

private:
    std::map<std::string, double> m_times;
};

long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::atol(line.c_str() + std::strlen(field));
        }
    }
    return -1;
}

// Run in a fresh process so that nothing else of the benchmark counts: loads the file and
// prints the growth of the peak resident size in bytes.
int MeasureLoad(const char* path) {
    const long before = StatusKiB("VmRSS:");
    CKLTDoc doc;
    std::error_code error;
    if (!doc.LoadFromFile(path, error)) {
        return 1;
    }
    const long peak = StatusKiB("VmHWM:");
    std::printf("%ld\n", (peak - before) * 1024);
    return 0;
}

void PrintLoadPeak(const std::string& self) {
    const auto& file = History();
    const std::string command = "'" + self + "' --measure-load '" + file.path + "'";
    FILE* child = ::popen(command.c_str(), "r");
    long peak = -1;
    if (child == nullptr || std::fscanf(child, "%ld", &peak) != 1) {
        peak = -1;
    }
    if (child != nullptr) {
        ::pclose(child);
    }
    if (peak < 0) {
        std::printf("load peak memory: could not be measured\n");
        return;
    }
    std::printf("%-44s %6.2fx   (goal <= 2x; %.1f MB for a %.1f MB file)\n",
                "load peak memory / file size", double(peak) / file.bytes.size(), peak / 1e6,
                file.bytes.size() / 1e6);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--measure-load") == 0) {
        return MeasureLoad(argv[2]);
    }
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nRatios against the baselines of this run:\n");
    reporter.PrintRatio("decode throughput / memcpy throughput", "BM_MemcpyStream",
                        "BM_DecodeStream", ">= 0.25x");
    reporter.PrintRatio("load time / read-into-memory time", "BM_LoadHistory",
                        "BM_ReadHistoryIntoMemory", "<= 3x");
    reporter.PrintRatio("save time / write-and-flush time", "BM_SaveHistory",
                        "BM_WriteHistoryBytes", "<= 2x");
    reporter.PrintRatio("port-user search / descriptor listing", "BM_FindOtherOpeners",
                        "BM_ListProcessDescriptors", "<= 3x");
    PrintLoadPeak(self);
    return 0;
}
