#include "core/document/RecoveryFile.h"

#include "core/document/KLTDoc.h"
#include "core/io/FileIO.h"

#include <cstdlib>
#include <memory>

std::string CRecoveryFile::DefaultFolder(const char* xdgStateHome, const char* home) {
    if (xdgStateHome != nullptr && xdgStateHome[0] == '/') {
        return std::string(xdgStateHome) + "/klt";
    }
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/state/klt";
    }
    return {};
}

std::string CRecoveryFile::DefaultFolder() {
    return DefaultFolder(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
}

CRecoveryFile::CRecoveryFile(std::string folder)
    : m_strFolder(std::move(folder)),
      m_strPath(m_strFolder.empty() ? std::string() : m_strFolder + "/" + FILE_NAME) {}

bool CRecoveryFile::Exists() const {
    return !m_strPath.empty() && kltio::ClassifyPath(m_strPath) == kltio::NodeKind::Regular;
}

bool CRecoveryFile::Write(const CKLTDoc& doc, std::error_code& error) const {
    if (m_strPath.empty()) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        return false;
    }
    if (!kltio::CreatePrivateFolder(m_strFolder, error)) {
        return false;
    }
    const std::unique_ptr<kltio::CAtomicFile> file =
        kltio::CAtomicFile::Create(m_strPath, error, kltio::FileAccess::OwnerOnly);
    return file && doc.WriteTo(*file, error) && file->Commit(error);
}

bool CRecoveryFile::Load(CKLTDoc& doc, std::error_code& error) const {
    if (m_strPath.empty()) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        return false;
    }
    return doc.LoadFromFile(m_strPath, error);
}

void CRecoveryFile::Remove() const {
    if (!m_strPath.empty()) {
        std::error_code ignored;
        kltio::RemoveFile(m_strPath, ignored);
    }
}
