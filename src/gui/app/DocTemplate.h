#pragma once

#include "core/reception/ReceptionController.h"

#include <memory>
#include <string>
#include <system_error>

class CKLTDoc;
class CMainFrame;

// The single-document template: one history document, shown in one main window with one
// view, reused for every file and every reception. It also runs the document's file flows:
// the save question, save as and open, with their failure messages.
class CMySingleDocTemplate {
public:
    // How well a file name suits the template, as document matching answers it.
    enum Confidence {
        noAttempt,
        maybeAttemptForeign,
        maybeAttemptNative,
        yesAttemptForeign,
        yesAttemptNative,
        yesAlreadyOpen
    };

    // timings and startThread go to the main window's reception controller.
    explicit CMySingleDocTemplate(CReceptionController::Timings timings = {},
                                  CReceptionController::ThreadStarter startThread = {});
    ~CMySingleDocTemplate();
    CMySingleDocTemplate(const CMySingleDocTemplate&) = delete;
    CMySingleDocTemplate& operator=(const CMySingleDocTemplate&) = delete;

    // The file that is already open is never merely activated: it is opened again, save
    // question included, so it is read from disk anew.
    Confidence MatchDocType(const std::string& pathName, CKLTDoc*& rpDocMatch) const;

    // With no path: makes the document new and untitled, creating the (hidden) main window
    // and the view the first time. With a path: the full open flow. Returns the document, or
    // null when the user cancelled or the open failed (the user has been told why).
    CKLTDoc* OpenDocumentFile(const std::string* pathName);

    // The document's side of the flows.
    bool SaveModified(); // false: cancelled, or the save failed
    bool DoFileSave();   // to the path name when writable, else through save as
    bool DoSave(const std::string* pathName, bool bReplace = true); // null: ask for a name
    bool OnOpenDocument(const std::string& pathName);
    bool OnSaveDocument(const std::string& pathName);
    void OnFileSaveAs() { DoSave(nullptr); }

    CKLTDoc* GetDocument() const { return m_pOnlyDoc.get(); }
    CMainFrame* GetMainFrame() const { return m_pFrame.get(); }

    // Fields of the document string: 0 window title, 1 document name, 2 new-file type,
    // 3 filter name, 4 filter extension, 5 type id, 6 type name.
    static std::string GetDocString(int field);

private:
    void ReportSaveLoadError(const std::string& pathName, std::error_code error, bool saving);
    void InitialUpdateFrame();

    std::unique_ptr<CKLTDoc> m_pOnlyDoc;
    std::unique_ptr<CMainFrame> m_pFrame;
    CReceptionController::Timings m_receptionTimings;
    CReceptionController::ThreadStarter m_startReaderThread;
};
