#pragma once

#include <string>
#include <system_error>

class CKLTDoc;

// The history of a reception that has not been saved yet, kept in the user's state folder so
// that a crash, a logout or a kill costs at most what arrived since it was last written. It
// holds exactly what saving the history would write, and only the user may read it.
class CRecoveryFile {
public:
    static constexpr const char* FILE_NAME = "unsaved-history.txt";

    // The folder for this user: $XDG_STATE_HOME/klt, or ~/.local/state/klt when that is not
    // set (or not an absolute path, which the convention says to ignore). Empty when neither
    // is known.
    static std::string DefaultFolder(const char* xdgStateHome, const char* home);
    // The same, from this process's environment.
    static std::string DefaultFolder();

    explicit CRecoveryFile(std::string folder);

    // Empty when the folder is unknown; nothing is then written or found.
    const std::string& Path() const { return m_strPath; }

    // True when a recovery file is there.
    bool Exists() const;

    // Replaces the file whole with the history's file text; the folder is created for the
    // user alone if needed.
    bool Write(const CKLTDoc& doc, std::error_code& error) const;

    // Reads the file into the history (see CKLTDoc::LoadFromFile).
    bool Load(CKLTDoc& doc, std::error_code& error) const;

    // Removes the file, if there is one.
    void Remove() const;

private:
    std::string m_strFolder;
    std::string m_strPath;
};
