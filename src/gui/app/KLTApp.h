#pragma once

#include <QString>
#include <QStringList>
#include <QTranslator>

#include <memory>

class CKLTDoc;
class CMainFrame;
class CMySingleDocTemplate;
class CSingleInstance;
class QWidget;

// The application: start-up as the only running copy, the document template with its one
// document, main window and view, the open and About commands, and the end.
class CKLTApp {
public:
    CKLTApp();
    ~CKLTApp();
    CKLTApp(const CKLTApp&) = delete;
    CKLTApp& operator=(const CKLTApp&) = delete;

    // Needs the QApplication. arguments: the command line, program first; a file named on it
    // is opened like the open command once the window is ready (without one the history
    // starts empty and untitled). runtimeDir: where the single-instance lock lives, empty for
    // the user's runtime folder. False ends the program with ExitCode(): 0 when another copy
    // runs and has taken the request over (come forward, open the file), 1 when the start
    // failed (after its message).
    bool InitInstance(const QStringList& arguments = QStringList(),
                      const QString& runtimeDir = QString());
    int ExitInstance();
    int ExitCode() const { return m_nExitCode; }

    // The start's new untitled document, with the main window (hidden until the reception
    // controller is ready) and the view.
    bool OnFileNew();

    void OnFileOpen();
    void OnAbout();
    CKLTDoc* OpenDocumentFile(const QString& pathName);

    // Opens a file handed over from outside (the command line, a later start) as soon as the
    // open command is enabled: at once when ready, else when the start-up or the reception
    // has ended.
    void OpenWhenReady(const QString& pathName);

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
    void OpenPending();

    QTranslator m_qtTranslator;
    QStringList m_pendingOpens;
    bool m_bOpeningPending = false;
    int m_nExitCode = 0;
    std::unique_ptr<CSingleInstance> m_pInstance;
    std::unique_ptr<CMySingleDocTemplate> m_pDocTemplate;
};

CKLTApp* AfxGetApp();
