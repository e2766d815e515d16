#include "gui/app/TerminationHandler.h"

#include "core/app/TerminationWatch.h"
#include "gui/app/DocTemplate.h"

#include <QCoreApplication>
#include <QMetaObject>

CTerminationHandler::CTerminationHandler(CMySingleDocTemplate& docTemplate)
    : m_docTemplate(docTemplate) {
    // The watch calls back on a thread of its own, and is joined before this object goes;
    // the work is queued to the UI thread, where a call still pending dies with this object.
    m_pWatch = kltapp::WatchTermination([this](int signalNumber) {
        QMetaObject::invokeMethod(
            this, [this, signalNumber] { OnRequest(signalNumber); }, Qt::QueuedConnection);
    });
}

CTerminationHandler::~CTerminationHandler() = default;

void CTerminationHandler::OnRequest(int signalNumber) {
    if (m_nExitCode != 0) {
        return;
    }
    m_nExitCode = 128 + signalNumber;
    m_docTemplate.EndForTermination();
    // Leaves every event loop, also those of a dialog or message box that is up.
    QCoreApplication::exit(m_nExitCode);
}
