#pragma once

#include <QString>
#include <QTranslator>

#include <memory>

class CKLTDoc;
class CMainFrame;
class CMySingleDocTemplate;
class CSingleInstance;
class CTerminationHandler;
class QWidget;

// The application: start-up as the only running copy, the document template with its one
// document, main window and view, the open and About commands, and the end.
class CKLTApp {
public:
    CKLTApp();
    ~CKLTApp();
    CKLTApp(const CKLTApp&) = delete;
    CKLTApp& operator=(const CKLTApp&) = delete;

    // Needs the QApplication. False ends the program: another copy runs (it has been asked
    // to come forward), the start failed, or the system asked the app to end meanwhile. The
    // command line is not looked at: every start is an empty untitled history (or the
    // recovered one).
    bool InitInstance();
    int ExitInstance();

    // The start's new untitled document, with the main window (hidden until the reception
    // controller is ready) and the view.
    bool OnFileNew();

    void OnFileOpen();
    void OnAbout();
    CKLTDoc* OpenDocumentFile(const QString& pathName);

    CMainFrame* GetMainWnd() const;
    CMySingleDocTemplate* GetDocTemplate() const { return m_pDocTemplate.get(); }

    // Standard buttons and dialogs in Japanese whatever the locale (はい, いいえ, キャンセル).
    bool InstallQtTranslation();

    // Brings a window forward: restored if minimised, or its modal dialog or message box
    // when one is up.
    static void BringForward(QWidget* mainWindow);

    // Pages shown side by side in the print preview; 0 for the default. Read at start,
    // written at the end only when not 0.
    int m_nNumPreviewPages = 0;

private:
    QTranslator m_qtTranslator;
    std::unique_ptr<CSingleInstance> m_pInstance;
    std::unique_ptr<CMySingleDocTemplate> m_pDocTemplate;
    std::unique_ptr<CTerminationHandler> m_pTermination; // refers to the template
};

CKLTApp* AfxGetApp();
