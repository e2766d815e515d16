#include "gui/app/KLTApp.h"

#include "core/res/Strings.h"
#include "gui/app/AboutDlg.h"
#include "gui/app/DocTemplate.h"
#include "gui/app/MainFrame.h"
#include "gui/app/SingleInstance.h"
#include "gui/app/TerminationHandler.h"
#include "gui/framework/FileDialog.h"

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QSettings>

namespace {

CKLTApp* g_pApp = nullptr;

QSettings UserSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("KLT"),
                     QStringLiteral("KLT"));
}

const QString PREVIEW_PAGES_KEY = QStringLiteral("Settings/PreviewPages");

} // namespace

CKLTApp* AfxGetApp() {
    return g_pApp;
}

CKLTApp::CKLTApp() {
    g_pApp = this;
}

CKLTApp::~CKLTApp() {
    m_pTermination.reset();
    m_pDocTemplate.reset();
    if (g_pApp == this) {
        g_pApp = nullptr;
    }
}

bool CKLTApp::InstallQtTranslation() {
    return m_qtTranslator.load(QStringLiteral("qtbase_ja"),
                               QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
           QCoreApplication::installTranslator(&m_qtTranslator);
}

bool CKLTApp::InitInstance() {
    InstallQtTranslation();

    m_pInstance = std::make_unique<CSingleInstance>(
        QString::fromUtf8(res::LoadString(res::IDS_INSTANCE_NAME)));
    switch (m_pInstance->Acquire()) {
    case CSingleInstance::Result::First:
        break;
    case CSingleInstance::Result::AnotherRuns:
        m_pInstance->AskRunningCopyToComeForward();
        return false;
    case CSingleInstance::Result::Failed:
        return false;
    }

    m_nNumPreviewPages = UserSettings().value(PREVIEW_PAGES_KEY, 0).toInt();

    if (!OnFileNew()) {
        return false;
    }
    CMainFrame* frame = GetMainWnd();
    frame->setAcceptDrops(true);
    m_pInstance->SetComeForwardHandler([frame] { BringForward(frame); });
    // From here on a logout or kill ends the app in order, keeping an unsaved reception.
    m_pTermination = std::make_unique<CTerminationHandler>(*m_pDocTemplate);
    m_pDocTemplate->OfferRecovery();
    return m_pTermination->ExitCode() == 0;
}

int CKLTApp::ExitInstance() {
    if (m_nNumPreviewPages != 0) {
        UserSettings().setValue(PREVIEW_PAGES_KEY, m_nNumPreviewPages);
    }
    return m_pTermination ? m_pTermination->ExitCode() : 0;
}

bool CKLTApp::OnFileNew() {
    if (!m_pDocTemplate) {
        m_pDocTemplate = std::make_unique<CMySingleDocTemplate>();
    }
    return m_pDocTemplate->OpenDocumentFile(nullptr) != nullptr && GetMainWnd() != nullptr;
}

CMainFrame* CKLTApp::GetMainWnd() const {
    return m_pDocTemplate ? m_pDocTemplate->GetMainFrame() : nullptr;
}

void CKLTApp::OnFileOpen() {
    const std::optional<QString> chosen =
        klt::DoPromptFileName(klt::FileDialogKind::Open, QString(), GetMainWnd());
    if (chosen) {
        OpenDocumentFile(*chosen);
    }
}

CKLTDoc* CKLTApp::OpenDocumentFile(const QString& pathName) {
    if (!m_pDocTemplate) {
        return nullptr;
    }
    const std::string path = QFile::encodeName(pathName).toStdString();
    CKLTDoc* alreadyOpen = nullptr;
    m_pDocTemplate->MatchDocType(path, alreadyOpen);
    return m_pDocTemplate->OpenDocumentFile(&path);
}

void CKLTApp::OnAbout() {
    CAboutDlg about(GetMainWnd());
    about.DoModal();
}

void CKLTApp::BringForward(QWidget* mainWindow) {
    if (!mainWindow) {
        return;
    }
    if (mainWindow->isMinimized()) {
        mainWindow->setWindowState(mainWindow->windowState() & ~Qt::WindowMinimized);
        if (mainWindow->isVisible()) {
            mainWindow->showNormal();
        }
    }
    QWidget* target = QApplication::activeModalWidget();
    if (!target) {
        target = mainWindow;
    }
    target->raise();
    target->activateWindow();
}
