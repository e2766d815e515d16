#include "EventLoop.h"
#include "HistoryOutput.h"
#include "Options.h"
#include "Progress.h"

#include "core/app/TerminationWatch.h"
#include "core/document/KLTDoc.h"
#include "core/io/FileIO.h"
#include "core/reception/ComAPI.h"
#include "core/reception/ReceptionController.h"
#include "core/reception/SerialDevice.h"
#include "core/res/Strings.h"

#include <climits>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

// The shell's own timer: looks after the device and the status line once a second. Its id
// lies above the controller's.
constexpr unsigned TIMER_WATCHDOG = 100;
constexpr unsigned WATCHDOG_MS = 1000;

class CCaptureShell final : public IReceptionClock, public IReceptionSink {
public:
    explicit CCaptureShell(const CaptureOptions& options)
        : m_options(options), m_progress(options.port, kltio::StandardErrorIsTerminal()),
          m_loop([this](unsigned id) { OnTimer(id); }),
          m_controller(*this, *this, MakeTimings(options)) {
        char path[CComAPI::DEVICE_PATH_SIZE];
        if (CComAPI::BuildDevicePath(options.port.c_str(), path, sizeof path)) {
            m_devicePath = path;
        }
    }

    int Run();

    // The clock.
    void SetTimer(unsigned id, unsigned periodMs) override { m_loop.SetTimer(id, periodMs); }
    void KillTimer(unsigned id) override { m_loop.KillTimer(id); }

    // The sink.
    void PostToUiThread(std::function<void()> task) override { m_loop.Post(std::move(task)); }
    void ApplyFlags(unsigned flags) override;
    void ShowPortName(const char*) override;
    bool SaveModified() override { return true; } // every history is written when it ends
    void ClearHistory() override {
        m_doc.ClearHistory();
        m_bytes = 0;
    }
    void AppendText(std::string_view text) override {
        m_doc.AppendText(text);
        m_bytes += text.size();
    }
    void ClearView() override {}
    void InvalidateView() override {}
    void FollowTheEnd() override { m_progress.Update(m_bytes, m_doc.GetLineCount()); }
    void ShowMessage(unsigned stringId, ReceptionIcon icon) override;
    bool ChoosePort(char*) override { return false; }
    int RunWaitDialog() override;
    void EndWaitDialog(int result) override { m_waitResult = result; }

private:
    static CReceptionController::Timings MakeTimings(const CaptureOptions& options) {
        CReceptionController::Timings timings;
        // Unattended, the machine may send its next history at any time: no time-out.
        timings.markerTimeoutMs = options.Watching() ? UINT_MAX : options.markerTimeoutMs;
        return timings;
    }

    bool DevicePresent() const {
        return !m_devicePath.empty() && SerialDeviceExists(m_devicePath.c_str());
    }

    void OnTimer(unsigned id);
    void OnWatchdog();
    void OnSignal(int signal);
    void AfterReady();
    void CancelWait();
    void BeginReception();
    // Writes what has been received; partial tells the reader that the history is cut short.
    void WriteHistory(bool partial);
    struct History {
        std::string path;
        std::string bytes;
        std::size_t lines;
        bool partial;
    };
    bool SaveFile(const History& history);
    void RetryUnsaved();
    void Finish(int status) {
        m_status = status;
        m_done = true;
    }

    const CaptureOptions& m_options;
    CProgress m_progress;
    CEventLoop m_loop;
    CKLTDoc m_doc;
    CReceptionController m_controller;
    std::string m_devicePath;
    std::size_t m_bytes = 0;
    std::time_t m_historyStart = 0;

    int m_waitResult = -1; // while the wait runs: -1, then how it ended
    bool m_waitRunning = false;
    bool m_started = false; // the first reception has begun
    bool m_done = false;
    int m_status = EXIT_RECEIVED;
    int m_signal = 0;    // the signal that asked the tool to end
    bool m_lost = false; // the device went away during this reception
    bool m_awaitingDevice = false;
    std::size_t m_markerTextSeen = 0; // the accumulation at the last watchdog tick
    bool m_received = false;          // a history arrived whole (once mode)
    std::vector<History> m_unsaved;   // watch: written as soon as the folder takes them
    unsigned m_ticks = 0;
};

int CCaptureShell::Run() {
    std::error_code error;
    if (!m_options.Watching() && !history_output::CheckTarget(m_options.output, error)) {
        m_progress.Event(m_options.output + ": " + error.message());
        return EXIT_PORT_OR_FILE_ERROR;
    }
    if (m_options.Watching() &&
        kltio::ClassifyPath(m_options.watchFolder) != kltio::NodeKind::Directory) {
        m_progress.Event(m_options.watchFolder + ": no such folder");
        return EXIT_PORT_OR_FILE_ERROR;
    }
    if (m_devicePath.empty()) {
        m_progress.Event("too long for a port name or device path");
        return EXIT_PORT_OR_FILE_ERROR;
    }
    // A request to end (SIGTERM, Ctrl+C, a closed console) reaches the event loop, so the
    // reception ends through the same steps as any other event.
    const std::unique_ptr<kltapp::CTerminationWatch> watch = kltapp::WatchTermination(
        [this](int signal) { m_loop.Post([this, signal] { OnSignal(signal); }); });
    if (!watch) {
        m_progress.Event("cannot watch for requests to end");
        return EXIT_PORT_OR_FILE_ERROR;
    }
    m_controller.SetPortName(m_options.port);
    m_loop.SetTimer(TIMER_WATCHDOG, WATCHDOG_MS);
    m_controller.Start();
    m_loop.Run([this] { return m_done; });
    m_controller.Shutdown();
    RetryUnsaved();
    if (!m_unsaved.empty()) {
        m_progress.Event(std::to_string(m_unsaved.size()) +
                         " histories could not be written and are lost");
        return EXIT_PORT_OR_FILE_ERROR;
    }
    return m_status;
}

void CCaptureShell::ApplyFlags(unsigned flags) {
    // Only entering READY enables the commands: a reception has ended (or none began yet).
    if (flags & CReceptionController::FLAG_ENABLED) {
        m_loop.Post([this] { AfterReady(); });
    }
}

void CCaptureShell::ShowPortName(const char*) {
    // Called as the controller enters RECEIVING: the marker has been seen.
    m_historyStart = std::time(nullptr);
    m_progress.SetState("receiving");
    m_progress.Update(m_bytes, m_doc.GetLineCount());
    m_progress.Event("marker seen; receiving");
}

int CCaptureShell::RunWaitDialog() {
    m_progress.SetState("waiting for the marker");
    m_progress.Event("opened; waiting for the marker");
    m_markerTextSeen = 0;
    m_waitResult = -1;
    m_waitRunning = true;
    m_loop.Run([this] { return m_waitResult != -1 || m_done; });
    m_waitRunning = false;
    return m_waitResult == -1 ? 2 : m_waitResult;
}

void CCaptureShell::ShowMessage(unsigned stringId, ReceptionIcon) {
    if (stringId == res::IDS_RECEIVE_FINISHED) {
        // As behind a message box: text still queued reaches the history first.
        m_loop.RunPending();
        WriteHistory(false);
        return;
    }
    if (stringId == res::IDS_RECEIVE_TIMEOUT) {
        if (m_options.Watching()) {
            return; // back in READY, the wait simply starts again
        }
        char limit[32];
        std::snprintf(limit, sizeof limit, "%g s", m_options.markerTimeoutMs / 1000.0);
        m_progress.Event(std::string(res::LoadString(stringId)) + " (no marker within " + limit +
                         ")");
        Finish(EXIT_TIMED_OUT);
        return;
    }
    if (stringId == res::IDS_CONNECTION_LOST) {
        m_loop.RunPending();
        m_lost = true;
        m_progress.Event("connection lost");
        if (m_doc.GetLineCount() > 0) {
            WriteHistory(true);
        }
        if (!m_options.Watching()) {
            Finish(EXIT_CONNECTION_LOST);
        }
        return;
    }
    if (m_options.Watching() && !DevicePresent()) {
        m_progress.Event(m_devicePath + " is gone");
        m_lost = true; // it may be plugged in again: wait for it
        return;
    }
    // The port could not be opened: the app's message, as plain text.
    const char* text = res::LoadString(stringId);
    m_progress.Event(*text ? text : "error " + std::to_string(stringId));
    Finish(EXIT_PORT_OR_FILE_ERROR);
}

void CCaptureShell::WriteHistory(bool partial) {
    std::string path = m_options.output;
    if (m_options.Watching()) {
        path = history_output::NameInFolder(m_options.watchFolder, m_options.port,
                                            m_historyStart ? m_historyStart : std::time(nullptr));
    }
    const std::size_t lines = m_doc.GetLineCount();
    const std::string bytes = history_output::FileBytes(m_doc);
    m_doc.ClearHistory();
    m_bytes = 0;
    m_historyStart = 0;
    if (!partial && !m_options.Watching()) {
        m_received = true;
    }
    if (!SaveFile({path, bytes, lines, partial})) {
        if (m_options.Watching()) {
            m_unsaved.push_back({path, bytes, lines, partial});
        } else {
            Finish(EXIT_PORT_OR_FILE_ERROR);
        }
    }
}

bool CCaptureShell::SaveFile(const History& history) {
    const std::string where = history.path == "-" ? "standard output" : history.path;
    std::error_code error;
    if (!history_output::Write(history.bytes, history.path, m_options.utf8, error)) {
        m_progress.Event(where + ": " + error.message() +
                         (m_options.Watching() ? "; trying again every 10 s" : ""));
        return false;
    }
    m_progress.Event("saved " + where + " with " + std::to_string(history.lines) + " lines" +
                     (history.partial ? " (cut short)" : ""));
    return true;
}

// Histories whose file could not be written (a full disk, a folder taken away) stay in
// memory and are written as soon as that works again.
void CCaptureShell::RetryUnsaved() {
    while (!m_unsaved.empty() && SaveFile(m_unsaved.front())) {
        m_unsaved.erase(m_unsaved.begin());
    }
}

void CCaptureShell::AfterReady() {
    if (m_done || m_controller.GetState() != CReceptionController::STATE_READY) {
        return;
    }
    if (m_signal != 0) {
        Finish(m_options.Watching() ? EXIT_RECEIVED : 128 + m_signal);
        return;
    }
    if (!m_started) {
        m_started = true; // the controller is up: the first reception
    } else if (!m_options.Watching()) {
        Finish(m_received ? EXIT_RECEIVED
               : m_lost   ? EXIT_CONNECTION_LOST
                          : EXIT_PORT_OR_FILE_ERROR);
        return;
    }
    if (m_options.Watching() && (m_lost || !DevicePresent())) {
        m_lost = false;
        m_awaitingDevice = true;
        m_progress.SetState("waiting for the device");
        m_progress.Event("waiting for " + m_devicePath + " to return");
        return;
    }
    BeginReception();
}

// Ends the wait for the marker as the wait dialog's Cancel would; before the dialog runs
// (the port is opened 10 ms after the start), the reception is stopped instead.
void CCaptureShell::CancelWait() {
    if (m_waitRunning) {
        m_waitResult = 2;
    } else {
        m_controller.OnReceiveStop();
    }
}

void CCaptureShell::BeginReception() {
    m_waitResult = -1;
    m_progress.SetState("opening");
    m_controller.OnReceiveStart();
}

void CCaptureShell::OnTimer(unsigned id) {
    if (id == TIMER_WATCHDOG) {
        OnWatchdog();
        return;
    }
    m_controller.OnTimer(id);
}

void CCaptureShell::OnWatchdog() {
    if (!m_unsaved.empty() && ++m_ticks % 10 == 0) {
        RetryUnsaved();
    }
    const int state = m_controller.GetState();
    if (m_awaitingDevice) {
        if (DevicePresent()) {
            m_awaitingDevice = false;
            m_progress.Event(m_devicePath + " is back");
            BeginReception();
        }
        return;
    }
    if (state == CReceptionController::STATE_WAIT_MARKER ||
        state == CReceptionController::STATE_RECEIVING) {
        if (!DevicePresent()) {
            // Unplugged: nothing more can come; what came is kept.
            m_lost = true;
            m_progress.Event(m_devicePath + " is gone");
            if (state == CReceptionController::STATE_RECEIVING) {
                m_loop.RunPending();
                m_controller.OnReceiveStop();
                WriteHistory(true);
            } else {
                CancelWait();
            }
            return;
        }
    }
    if (state == CReceptionController::STATE_WAIT_MARKER && m_options.Watching() && m_waitRunning &&
        m_waitResult == -1) {
        // Text without a marker that has been followed by a second of silence is line
        // noise (the machine starting up, say). Unattended, it would fill the 511 bytes of
        // the marker search for good, so the wait starts afresh on a quiet line.
        const std::size_t accumulated = m_controller.MarkerText().size();
        if (accumulated != 0 && accumulated == m_markerTextSeen) {
            m_progress.Event("no marker in " + std::to_string(accumulated) +
                             " bytes of text; waiting afresh");
            CancelWait();
            return;
        }
        m_markerTextSeen = accumulated;
    }
    if (state == CReceptionController::STATE_WAIT_MARKER ||
        state == CReceptionController::STATE_RECEIVING) {
        m_progress.Update(m_bytes, m_doc.GetLineCount());
    }
}

void CCaptureShell::OnSignal(int signal) {
    if (m_signal != 0) {
        return;
    }
    m_signal = signal;
    const int state = m_controller.GetState();
    if (state == CReceptionController::STATE_RECEIVING) {
        m_loop.RunPending();
        m_progress.Event(std::string(signal == SIGINT ? "interrupted" : "asked to stop") +
                         "; writing the " + std::to_string(m_doc.GetLineCount()) +
                         " lines received so far");
        m_controller.OnReceiveStop();
        WriteHistory(true);
        return;
    }
    if (state == CReceptionController::STATE_WAIT_MARKER) {
        CancelWait(); // READY then ends the tool
        return;
    }
    Finish(m_options.Watching() ? EXIT_RECEIVED : 128 + signal);
}

} // namespace

int RunCapture(const CaptureOptions& options) {
    CCaptureShell shell(options);
    return shell.Run();
}
