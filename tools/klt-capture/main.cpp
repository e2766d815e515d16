// klt-capture: the reception of the app without a window, for a small computer cabled to a
// machine: once into a file, or unattended into a folder, one history after the other.
#include "Options.h"

#include "core/reception/PortTable.h"
#include "core/reception/SystemPorts.h"
#include "core/res/Strings.h"
#include "core/res/Version.h"
#include "core/text/Cp932Utf8.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr const char* USAGE = R"(Usage: klt-capture [OPTIONS] PORT [OUTPUT]
       klt-capture --watch DIR [OPTIONS] PORT
       klt-capture --list

Receives the machine's operation history from serial port PORT the way KLT's
受信開始 does: opens the port for itself alone, waits up to 30 seconds for the
marker "****", receives until the line has been silent for one second, and writes
the history as KLT saves it (Shift-JIS, CR LF after every line).

  PORT          the port as --list shows it (ttyUSB0, pts/3) or a device path
  OUTPUT        the history file, replaced only once it is complete; standard
                output when omitted or "-"
  --watch DIR   keep running: write every history the machine sends to
                DIR/<port>-<YYYYmmdd-HHMMSS>.txt and wait for the next, without
                a time limit; when the device goes away, wait for it to return
  --utf8        also write a UTF-8 copy beside each file (NAME.utf8.txt); into
                standard output, a device or a FIFO, write UTF-8 instead
  --list        list the serial ports (name and description) and exit
  -h, --help    show this help
  --version     show the version

Progress goes to standard error: one status line on a terminal, one line per
event otherwise (for the journal). SIGTERM, SIGHUP or Ctrl+C writes a history still
being received, as far as it came, before ending.

Exit status: 0 history received (and, with --watch, ended by a signal); 1 port
or file error; 2 wrong usage; 3 no marker within the time; 4 connection lost
(the lines received are written); 128+N ended by signal N before a history was
complete, without --watch.
)";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "klt-capture: %s\nTry 'klt-capture --help'.\n", problem.c_str());
    return EXIT_USAGE;
}

// The ports the app's port dialog lists, in its order: name, then description.
int ListPorts() {
    std::vector<EnumeratedPort> ports = EnumerateSystemPorts();
    for (EnumeratedPort& port : ports) {
        port.friendlyName = cp932::FromUtf8(port.friendlyName);
    }
    std::vector<COMPORT_ENTRY> table(MAX_COM_PORTS);
    const int count = FillPortTable(ports, table.data(), MAX_COM_PORTS);
    if (count == 0) {
        std::fprintf(stderr, "%s\n", res::LoadString(res::IDS_NO_COM_PORT));
        return EXIT_PORT_OR_FILE_ERROR;
    }
    std::size_t width = 0;
    for (int i = 0; i < count; ++i) {
        width = std::max(width, std::string(table[i].szPortName).size());
    }
    for (int i = 0; i < count; ++i) {
        const std::string description = cp932::ToUtf8(table[i].szDescription);
        if (description.empty()) {
            std::printf("%s\n", table[i].szPortName);
        } else {
            std::printf("%-*s  %s\n", static_cast<int>(width), table[i].szPortName,
                        description.c_str());
        }
    }
    return 0;
}

bool ParseSeconds(const char* text, unsigned& milliseconds) {
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(seconds) || seconds <= 0 ||
        seconds > 4000000) {
        return false;
    }
    milliseconds = static_cast<unsigned>(std::lround(seconds * 1000));
    return milliseconds > 0;
}

} // namespace

int main(int argc, char** argv) {
    CaptureOptions options;
    std::vector<std::string> operands;
    bool list = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char** out) {
            if (i + 1 >= argc) {
                return false;
            }
            *out = argv[++i];
            return true;
        };
        const char* text = nullptr;
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("klt-capture %s\n", KLT_VERSION);
            return 0;
        } else if (arg == "--list") {
            list = true;
        } else if (arg == "--utf8") {
            options.utf8 = true;
        } else if (arg == "--watch") {
            if (!value(&text) || *text == '\0') {
                return Usage("--watch needs a folder");
            }
            options.watchFolder = text;
        } else if (arg == "--marker-timeout") {
            // Not in the help: lets the tests see a time-out without waiting 30 s.
            if (!value(&text) || !ParseSeconds(text, options.markerTimeoutMs)) {
                return Usage("--marker-timeout needs a number of seconds");
            }
        } else {
            return Usage("unknown option '" + arg + "'");
        }
    }
    if (list) {
        if (!operands.empty() || options.Watching()) {
            return Usage("--list takes no port");
        }
        return ListPorts();
    }
    if (operands.empty()) {
        return Usage("no port given");
    }
    if (operands.size() > (options.Watching() ? 1u : 2u)) {
        return Usage(options.Watching() ? "--watch writes into its folder; no OUTPUT"
                                        : "too many arguments");
    }
    options.port = operands[0];
    if (operands.size() == 2) {
        options.output = operands[1];
    }
    return RunCapture(options);
}
