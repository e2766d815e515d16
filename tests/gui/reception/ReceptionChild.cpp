// A KLT main window in a process of its own, for the tests that end it by a signal
// (test-only). The recovery folder is the app's own: $XDG_STATE_HOME/klt.
//
//   klt_reception_child receive PORT SAVE_PATH PERIOD_MS
//       Receives from PORT with the recovery file written every PERIOD_MS, printing
//       "lines N" whenever the history has grown. Ended by a termination request the way
//       the app is, it then saves the history as it stood to SAVE_PATH and prints
//       "ended port PORT_OPEN reader READER_RUNNING"; its exit status is the app's.
//   klt_reception_child recover yes|no SAVE_PATH
//       Starts as the app does, answering the recovery question; saves the history to
//       SAVE_PATH and prints "asked ASKED modified MODIFIED title TITLE".
#include "core/document/KLTDoc.h"
#include "core/res/Strings.h"
#include "gui/app/DocTemplate.h"
#include "gui/app/MainFrame.h"
#include "gui/app/TerminationHandler.h"
#include "gui/framework/MessageBox.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool Save(const CKLTDoc& doc, const char* path) {
    std::error_code error;
    return doc.SaveToFile(path, error);
}

int Recover(CMySingleDocTemplate& docTemplate, bool yes, const char* savePath) {
    klt::MessageBoxSeam::SetNextAnswer(yes ? klt::IDYES : klt::IDNO);
    docTemplate.OfferRecovery();
    const CKLTDoc& doc = *docTemplate.GetDocument();
    const QString question = QString::fromUtf8(res::LoadString(res::IDS_RECOVER_HISTORY));
    const bool asked = !klt::MessageBoxSeam::Shown().isEmpty() &&
                       klt::MessageBoxSeam::Shown().front().text == question;
    std::printf("asked %d modified %d title %s\n", asked ? 1 : 0, doc.IsModified() ? 1 : 0,
                doc.GetTitle().c_str());
    return Save(doc, savePath) ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "recover" && argc == 4) {
        CMySingleDocTemplate docTemplate;
        if (!docTemplate.OpenDocumentFile(nullptr)) {
            return 1;
        }
        return Recover(docTemplate, std::strcmp(argv[2], "yes") == 0, argv[3]);
    }
    if (mode != "receive" || argc != 5) {
        std::fprintf(stderr, "usage: see the source\n");
        return 2;
    }
    const std::string port = argv[2];
    const char* savePath = argv[3];
    CMySingleDocTemplate docTemplate({}, {}, {CRecoveryFile::DefaultFolder(), std::atoi(argv[4])});
    if (!docTemplate.OpenDocumentFile(nullptr)) {
        return 1;
    }
    CMainFrame& frame = *docTemplate.GetMainFrame();
    CKLTDoc& doc = *docTemplate.GetDocument();
    CTerminationHandler termination(docTemplate);
    if (!termination.IsWatching()) {
        return 1;
    }
    // Any message box (the end of a reception that outran the test) is answered.
    for (int i = 0; i < 8; ++i) {
        klt::MessageBoxSeam::SetNextAnswer(klt::IDOK);
    }

    bool started = false;
    std::size_t reported = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!started && frame.GetState() == CMainFrame::STATE_READY) {
            started = true;
            frame.Controller().SetPortName(port);
            frame.OnCommand(res::ID_RECEIVE_START);
        }
        if (doc.GetLineCount() != reported) {
            reported = doc.GetLineCount();
            std::printf("lines %zu\n", reported);
            std::fflush(stdout);
        }
    });
    poll.start(20);

    const int status = QApplication::exec();
    poll.stop();
    std::printf("ended port %d reader %d\n", frame.Controller().IsPortOpen() ? 1 : 0,
                frame.Controller().IsReaderRunning() ? 1 : 0);
    const bool saved = Save(doc, savePath);
    // Nothing may ask on the way out.
    doc.SetModifiedFlag(false);
    return saved ? status : 1;
}
