#include "gui/app/DocTemplate.h"

#include "core/document/KLTDoc.h"
#include "core/io/FileIO.h"
#include "core/res/Strings.h"
#include "gui/app/MainFrame.h"
#include "gui/framework/FileDialog.h"
#include "gui/framework/MessageBox.h"
#include "gui/view/KLTView.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>

namespace {

QString DisplayPath(const std::string& pathName) {
    return QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(pathName)));
}

std::string FullPath(const std::string& pathName) {
    const QString absolute =
        QFileInfo(QFile::decodeName(QByteArray::fromStdString(pathName))).absoluteFilePath();
    return QFile::encodeName(QDir::cleanPath(absolute)).toStdString();
}

std::string EncodePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString Format1(unsigned stringId, const QString& argument) {
    QString text = QString::fromUtf8(res::LoadString(stringId));
    return text.replace(QStringLiteral("%1"), argument);
}

} // namespace

CMySingleDocTemplate::CMySingleDocTemplate(CReceptionController::Timings timings,
                                           CReceptionController::ThreadStarter startThread,
                                           RecoverySettings recovery)
    : m_receptionTimings(timings), m_startReaderThread(std::move(startThread)),
      m_recovery(std::move(recovery)) {}

CMySingleDocTemplate::~CMySingleDocTemplate() {
    m_pFrame.reset(); // the window and its view go before the document they show
}

std::string CMySingleDocTemplate::GetDocString(int field) {
    const QStringList fields =
        QString::fromUtf8(res::LoadString(res::IDR_MAINFRAME)).split(QLatin1Char('\n'));
    return fields.value(field).toStdString();
}

CMySingleDocTemplate::Confidence CMySingleDocTemplate::MatchDocType(const std::string& pathName,
                                                                    CKLTDoc*& rpDocMatch) const {
    rpDocMatch = nullptr;
    if (m_pOnlyDoc && !m_pOnlyDoc->GetPathName().empty() &&
        FullPath(m_pOnlyDoc->GetPathName()) == FullPath(pathName)) {
        // The open file is read again, not activated.
        return yesAttemptNative;
    }
    const std::string extension = GetDocString(4);
    const bool native =
        pathName.size() >= extension.size() &&
        QString::fromStdString(pathName.substr(pathName.size() - extension.size()))
                .compare(QString::fromStdString(extension), Qt::CaseInsensitive) == 0;
    return native ? yesAttemptNative : yesAttemptForeign;
}

CKLTDoc* CMySingleDocTemplate::OpenDocumentFile(const std::string* pathName) {
    if (!m_pOnlyDoc) {
        m_pOnlyDoc = std::make_unique<CKLTDoc>();
        m_pFrame = std::make_unique<CMainFrame>(*this, *m_pOnlyDoc, m_receptionTimings,
                                                m_startReaderThread, m_recovery);
    } else if (!SaveModified()) {
        return nullptr;
    }
    CKLTDoc& document = *m_pOnlyDoc;

    if (!pathName) {
        document.SetTitle(QString::fromUtf8(res::LoadString(res::AFX_IDS_UNTITLED)).toStdString());
        if (!document.OnNewDocument()) {
            klt::AfxMessageBox(res::AFX_IDP_FAILED_TO_CREATE_DOC, klt::MsgIcon::Exclamation);
            return nullptr;
        }
    } else {
        const bool wasModified = document.IsModified();
        document.SetModifiedFlag(false);
        if (!OnOpenDocument(*pathName)) {
            if (!document.IsModified()) {
                document.SetModifiedFlag(wasModified);
            } else {
                // The old history is damaged: start again untitled rather than show half.
                document.OnNewDocument();
                m_pFrame->OnUpdateFrameTitle();
            }
            // A read that failed part-way has emptied the document; show what it holds.
            if (CKLTView* view = m_pFrame->GetActiveView()) {
                view->Invalidate(true);
            }
            return nullptr;
        }
        document.SetPathName(FullPath(*pathName));
    }
    InitialUpdateFrame();
    return &document;
}

void CMySingleDocTemplate::InitialUpdateFrame() {
    m_pFrame->OnUpdateFrameTitle();
    if (CKLTView* view = m_pFrame->GetActiveView()) {
        view->OnInitialUpdate();
    }
}

bool CMySingleDocTemplate::SaveModified() {
    CKLTDoc& document = *m_pOnlyDoc;
    if (!document.IsModified()) {
        return true;
    }
    QString name;
    if (document.GetPathName().empty()) {
        name = QString::fromStdString(document.GetTitle());
    } else {
        name = QFileInfo(DisplayPath(document.GetPathName())).fileName();
    }
    switch (klt::AfxMessageBox(Format1(res::AFX_IDP_ASK_TO_SAVE, name), klt::MsgIcon::Question,
                               klt::MsgButtons::YesNoCancel)) {
    case klt::IDCANCEL:
        return false;
    case klt::IDYES:
        return DoFileSave();
    default:
        // Given up: its copy for recovery goes too.
        m_pFrame->Recovery().Discard();
        return true;
    }
}

void CMySingleDocTemplate::OfferRecovery() {
    if (!m_pFrame->Recovery().OfferAtStart()) {
        return;
    }
    m_pFrame->OnUpdateFrameTitle();
    if (CKLTView* view = m_pFrame->GetActiveView()) {
        view->OnInitialUpdate();
    }
}

void CMySingleDocTemplate::EndForTermination() {
    if (m_pFrame) {
        m_pFrame->EndForTermination();
    }
}

bool CMySingleDocTemplate::DoFileSave() {
    const std::string& pathName = m_pOnlyDoc->GetPathName();
    // A file that is read-only, or no longer there, is saved through the save-as dialog.
    if (pathName.empty() || !kltio::IsWritable(pathName)) {
        return DoSave(nullptr);
    }
    const std::string path = pathName;
    return DoSave(&path);
}

bool CMySingleDocTemplate::DoSave(const std::string* pathName, bool bReplace) {
    CKLTDoc& document = *m_pOnlyDoc;
    std::string newName;
    if (pathName) {
        newName = *pathName;
    } else {
        QString proposed = DisplayPath(document.GetPathName());
        if (proposed.isEmpty()) {
            proposed = QString::fromStdString(document.GetTitle());
            const qsizetype bad = proposed.indexOf(QRegularExpression(QStringLiteral("[:/\\\\]")));
            if (bad >= 0) {
                proposed.truncate(bad);
            }
            proposed += QString::fromStdString(GetDocString(4));
        }
        const std::optional<QString> chosen =
            klt::DoPromptFileName(klt::FileDialogKind::SaveAs, proposed, m_pFrame.get());
        if (!chosen) {
            return false;
        }
        newName = EncodePath(*chosen);
    }
    // The save is atomic: when it fails, a file already there keeps its old contents.
    if (!OnSaveDocument(newName)) {
        return false;
    }
    if (bReplace) {
        document.SetPathName(FullPath(newName));
        m_pFrame->OnUpdateFrameTitle();
    }
    return true;
}

bool CMySingleDocTemplate::OnOpenDocument(const std::string& pathName) {
    CKLTDoc& document = *m_pOnlyDoc;
    std::error_code error;
    bool notAFile = false;
    const std::unique_ptr<kltio::CByteReader> file =
        kltio::OpenForReading(pathName, true, notAFile, error);
    if (!file) {
        if (notAFile) {
            klt::AfxMessageBox(Format1(res::IDS_NOT_A_FILE, DisplayPath(pathName)),
                               klt::MsgIcon::Exclamation);
        } else {
            ReportSaveLoadError(pathName, error, false);
        }
        return false;
    }
    document.DeleteContents();
    document.SetModifiedFlag(true);
    const bool ok = document.ReadFrom(*file, error);
    if (!ok) {
        document.DeleteContents();
        ReportSaveLoadError(pathName, error, false);
        return false;
    }
    document.SetModifiedFlag(false);
    return true;
}

bool CMySingleDocTemplate::OnSaveDocument(const std::string& pathName) {
    CKLTDoc& document = *m_pOnlyDoc;
    std::error_code error;
    bool notAFile = false;
    if (!document.SaveToFile(pathName, error, &notAFile)) {
        if (notAFile) {
            // A device or FIFO is never replaced by a file, as it is never opened as one.
            klt::AfxMessageBox(Format1(res::IDS_NOT_A_FILE, DisplayPath(pathName)),
                               klt::MsgIcon::Exclamation);
        } else {
            ReportSaveLoadError(pathName, error, true);
        }
        return false;
    }
    document.SetModifiedFlag(false);
    m_pFrame->Recovery().Discard();
    return true;
}

void CMySingleDocTemplate::ReportSaveLoadError(const std::string& pathName, std::error_code error,
                                               bool saving) {
    const QString file = DisplayPath(pathName);
    QString text;
    switch (error.value()) {
    case ENOENT:
    case ENOTDIR:
        text = Format1(res::AFX_IDP_FILE_NOT_FOUND, file);
        break;
    case EACCES:
    case EPERM:
    case EROFS:
        text = Format1(res::AFX_IDP_FILE_ACCESS_DENIED, file);
        break;
    case ENOSPC:
    case EDQUOT:
        text = Format1(res::AFX_IDP_FILE_DISKFULL, file);
        break;
    case EISDIR:
    case ENAMETOOLONG:
    case EINVAL:
    case ELOOP:
        text = QString::fromUtf8(res::LoadString(saving ? res::AFX_IDP_INVALID_FILENAME
                                                        : res::AFX_IDP_FAILED_TO_OPEN_DOC));
        break;
    default:
        text = QString::fromUtf8(res::LoadString(saving ? res::AFX_IDP_FAILED_TO_SAVE_DOC
                                                        : res::AFX_IDP_FAILED_TO_OPEN_DOC));
        break;
    }
    klt::AfxMessageBox(text, klt::MsgIcon::Exclamation);
}
