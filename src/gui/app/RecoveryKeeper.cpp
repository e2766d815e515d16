#include "gui/app/RecoveryKeeper.h"

#include "core/document/KLTDoc.h"
#include "core/res/Strings.h"
#include "gui/framework/MessageBox.h"

CRecoveryKeeper::CRecoveryKeeper(CKLTDoc& document, const RecoverySettings& settings)
    : m_document(document), m_file(settings.folder) {
    m_timer.setObjectName(QStringLiteral("recoveryTimer"));
    m_timer.setInterval(settings.periodMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { WriteNow(); });
}

void CRecoveryKeeper::ReceptionBegins() {
    if (!m_timer.isActive()) {
        m_timer.start();
    }
}

void CRecoveryKeeper::ReceptionEnds() {
    if (m_timer.isActive()) {
        m_timer.stop();
        WriteNow();
    }
}

void CRecoveryKeeper::WriteNow() {
    if (m_document.IsModified() && m_document.GetLineCount() > 0) {
        std::error_code ignored;
        m_file.Write(m_document, ignored);
    }
}

void CRecoveryKeeper::Discard() {
    m_file.Remove();
}

bool CRecoveryKeeper::OfferAtStart() {
    if (!m_file.Exists()) {
        return false;
    }
    const int answer = klt::AfxMessageBox(res::IDS_RECOVER_HISTORY, klt::MsgIcon::Question,
                                          klt::MsgButtons::YesNo);
    if (answer != klt::IDYES) {
        // Only a plain no gives it up; a question ended otherwise (the app told to end
        // meanwhile) keeps it for the next start.
        if (answer == klt::IDNO) {
            m_file.Remove();
        }
        return false;
    }
    std::error_code error;
    if (!m_file.Load(m_document, error)) {
        // Left in place: the user may look for it by hand.
        return false;
    }
    m_document.SetModifiedFlag(true);
    return true;
}
