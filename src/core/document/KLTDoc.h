#pragma once

#include "core/document/LineArray.h"

#include <string>
#include <string_view>
#include <system_error>

namespace kltio {
class CByteReader;
class CByteWriter;
} // namespace kltio

// The operation history: an ordered list of Shift-JIS lines, the text received after the
// last line end, and the history text file (each line followed by CR LF, nothing else).
// Lines keep their bytes exactly as received or read; nothing is converted.
class CKLTDoc {
public:
    CKLTDoc();
    CKLTDoc(const CKLTDoc&) = delete;
    CKLTDoc& operator=(const CKLTDoc&) = delete;

    // Removes lines, pending text and the longest length; clears the modified flag.
    // Path name and title stay.
    void ClearHistory();

    // Appends decoded text (Shift-JIS, CR LF line ends, no zero bytes: see RemoveZeroBytes)
    // and moves every line it completes into m_arrLines. Always marks the document
    // modified, even for empty text.
    void AppendText(std::string_view text);
    void AppendText(const char* text) {
        AppendText(text ? std::string_view(text) : std::string_view());
    }

    // The bytes of the history text file: every line followed by CR LF.
    bool WriteTo(kltio::CByteWriter& out, std::error_code& error) const;

    // Saves atomically: the text goes to a temporary file beside the target, is flushed to
    // disk and then renamed over the target. On failure the old file is left untouched.
    // A write-protected target is refused, not replaced; so is anything that exists and is
    // not a regular file (a device or a FIFO: notAFile is set, when given).
    bool SaveToFile(const std::string& path, std::error_code& error,
                    bool* notAFile = nullptr) const;

    // Replaces the history with the lines of a file: a line ends at LF or CR LF, the last
    // line needs no line end, lines have no length limit. Zero bytes are dropped (files that
    // KLT writes hold none). A file that cannot be opened leaves the history as it was; a
    // read that fails part-way leaves it empty. Does not touch the path name, title or
    // modified flag.
    bool LoadFromFile(const std::string& path, std::error_code& error);
    bool ReadFrom(kltio::CByteReader& in, std::error_code& error);

    // The framework's document state.
    void DeleteContents() { ClearHistory(); }
    bool OnNewDocument();
    bool IsModified() const { return m_bModified; }
    void SetModifiedFlag(bool modified = true) { m_bModified = modified; }
    const std::string& GetPathName() const { return m_strPathName; }
    void SetPathName(const std::string& path); // the title becomes the file's name
    const std::string& GetTitle() const { return m_strTitle; }
    void SetTitle(const std::string& title) { m_strTitle = title; }

    // Title of a document that has never been opened or saved.
    static constexpr const char* UNTITLED = "無題";

    std::size_t GetLineCount() const { return m_arrLines.GetSize(); }
    std::string_view GetLine(std::size_t index) const { return m_arrLines[index]; }
    int GetMaxLength() const { return m_nMaxLength; }
    const std::string& GetPendingText() const { return m_strPending; }

    CLineArray m_arrLines;
    int m_nMaxLength = 0;     // byte length of the longest line; only lowered by ClearHistory
    std::string m_strPending; // text after the last CR LF; never shown, printed or saved

private:
    void AddLine(std::string_view line);

    std::size_t m_nPendingScanned = 0; // bytes of m_strPending already searched for CR LF
    bool m_bModified = false;
    std::string m_strPathName;
    std::string m_strTitle = UNTITLED;
};
