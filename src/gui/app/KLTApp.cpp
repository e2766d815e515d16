#include "gui/app/KLTApp.h"

#include "core/res/Strings.h"
#include "gui/app/AboutDlg.h"
#include "gui/app/DocTemplate.h"
#include "gui/app/MainFrame.h"
#include "gui/app/SingleInstance.h"
#include "gui/framework/FileDialog.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QSettings>
#include <QTimer>

namespace {

CKLTApp* g_pApp = nullptr;

QSettings UserSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("KLT"),
                     QStringLiteral("KLT"));
}

const QString PREVIEW_PAGES_KEY = QStringLiteral("Settings/PreviewPages");
constexpr int MODAL_RETRY_MS = 200;

// The file named on the command line ("klt FILE", as the desktop entry's %f gives it): the
// first argument after the program that is not an option, or the first after "--". Made
// absolute, as the running copy that may get it has a folder of its own.
QString FileFromArguments(const QStringList& arguments) {
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (!optionsEnded && argument == QStringLiteral("--")) {
            optionsEnded = true;
        } else if (!argument.isEmpty() && (optionsEnded || !argument.startsWith(u'-'))) {
            return QFileInfo(argument).absoluteFilePath();
        }
    }
    return QString();
}

} // namespace

CKLTApp* AfxGetApp() {
    return g_pApp;
}

CKLTApp::CKLTApp() {
    g_pApp = this;
}

CKLTApp::~CKLTApp() {
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

bool CKLTApp::InitInstance(const QStringList& arguments, const QString& runtimeDir) {
    InstallQtTranslation();
    const QString file = FileFromArguments(arguments);

    m_pInstance = std::make_unique<CSingleInstance>(
        QString::fromUtf8(res::LoadString(res::IDS_INSTANCE_NAME)), runtimeDir);
    // A copy that holds the lock but cannot be reached (its socket failed) does not keep
    // this start from running: the user gets a window either way.
    if (m_pInstance->Acquire() == CSingleInstance::Result::AnotherRuns &&
        m_pInstance->AskRunningCopyToComeForward(file)) {
        m_nExitCode = 0;
        return false;
    }

    m_nNumPreviewPages = UserSettings().value(PREVIEW_PAGES_KEY, 0).toInt();

    if (!OnFileNew()) {
        m_nExitCode = 1;
        return false;
    }
    CMainFrame* frame = GetMainWnd();
    frame->setAcceptDrops(true);
    if (QAction* open = frame->MenuAction(res::ID_FILE_OPEN)) {
        QObject::connect(open, &QAction::enabledChanged, frame, [this, frame](bool enabled) {
            if (enabled) {
                QTimer::singleShot(0, frame, [this] { OpenPending(); });
            }
        });
    }
    m_pInstance->SetComeForwardHandler([this, frame](const QString& request) {
        BringForward(frame);
        if (!request.isEmpty()) {
            OpenWhenReady(request);
        }
    });
    if (!file.isEmpty()) {
        OpenWhenReady(file);
    }
    return true;
}

int CKLTApp::ExitInstance() {
    if (m_nNumPreviewPages != 0) {
        UserSettings().setValue(PREVIEW_PAGES_KEY, m_nNumPreviewPages);
    }
    return 0;
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

void CKLTApp::OpenWhenReady(const QString& pathName) {
    m_pendingOpens.append(pathName);
    if (CMainFrame* frame = GetMainWnd()) {
        // Not from inside the caller (a socket's signal): the open may ask questions.
        QTimer::singleShot(0, frame, [this] { OpenPending(); });
    }
}

void CKLTApp::OpenPending() {
    CMainFrame* frame = GetMainWnd();
    if (m_bOpeningPending || !frame) {
        return;
    }
    if (!m_pendingOpens.isEmpty() && QApplication::activeModalWidget()) {
        // A dialog is up (About, the port list): the open waits until it has been closed,
        // as a command or a drop would.
        QTimer::singleShot(MODAL_RETRY_MS, frame, [this] { OpenPending(); });
        return;
    }
    m_bOpeningPending = true;
    while (!m_pendingOpens.isEmpty() && frame->IsCommandEnabled(res::ID_FILE_OPEN)) {
        OpenDocumentFile(m_pendingOpens.takeFirst());
    }
    m_bOpeningPending = false;
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
