#include "core/document/KLTDoc.h"
#include "core/io/FileIO.h"

#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

// "表示履歴.txt" in Shift-JIS: the second byte of 表 is 0x5C, a backslash in ASCII.
const std::string SJIS_NAME = "\x95\x5C\x8E\xA6\x97\x9A\x97\xF0.txt";
const std::wstring WIDE_NAME = L"\u8868\u793A\u5C65\u6B74.txt";

class Win32Files : public TempFolderTest {
protected:
    std::string Folder() const { return m_folder.string(); }
    std::wstring WideFolder() const { return m_folder.wstring(); }

    static std::string ReadWide(const std::wstring& path) {
        const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return "<missing>";
        }
        std::string bytes(1 << 16, '\0');
        DWORD got = 0;
        ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
        ::CloseHandle(file);
        bytes.resize(got);
        return bytes;
    }
};

// A Shift-JIS name reaches the file system as its characters, and a 0x5C trail byte does not
// split it: saved, found by its UTF-16 name, classified, read back and used as the title.
TEST_F(Win32Files, ShiftJisNamesAreTheirCharacters) {
    const std::string path = Folder() + "\\" + SJIS_NAME;
    CKLTDoc doc;
    doc.AppendText("A\r\n\x82\x61\r\n");
    std::error_code error;
    ASSERT_TRUE(doc.SaveToFile(path, error)) << error.message();
    EXPECT_EQ(ReadWide(WideFolder() + L"\\" + WIDE_NAME), "A\r\n\x82\x61\r\n");
    EXPECT_EQ(kltio::ClassifyPath(path), kltio::NodeKind::Regular);

    // Saved again: the old file is replaced, not joined by a second one.
    doc.AppendText("B\r\n");
    ASSERT_TRUE(doc.SaveToFile(path, error)) << error.message();
    CKLTDoc loaded;
    ASSERT_TRUE(loaded.LoadFromFile(path, error)) << error.message();
    EXPECT_EQ(loaded.GetLineCount(), 3u);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_folder)) {
        ++files;
    }
    EXPECT_EQ(files, 1u) << "no temporary file is left beside it";

    loaded.SetPathName(path);
    EXPECT_EQ(loaded.GetTitle(), SJIS_NAME);
}

TEST_F(Win32Files, FileNameOfPathTakesBothSeparatorsButNoTrailByte) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\logs\\" + SJIS_NAME, SJIS_NAME}, {"C:/logs/h.txt", "h.txt"}, {"C:h.txt", "h.txt"},
        {"\\\\server\\share\\h.txt", "h.txt"}, {SJIS_NAME, SJIS_NAME},     {"C:\\logs\\", ""},
    };
    for (const auto& [path, name] : cases) {
        EXPECT_EQ(kltio::FileNameOfPath(path), name) << path;
    }
}

// A name that is no valid Shift-JIS is refused, not guessed at, and nothing is created.
TEST_F(Win32Files, InvalidShiftJisNameIsRefused) {
    CKLTDoc doc;
    doc.AppendText("A\r\n");
    std::error_code error;
    EXPECT_FALSE(doc.SaveToFile(Folder() + "\\bad\x81", error));
    EXPECT_EQ(error, std::make_error_code(std::errc::illegal_byte_sequence)) << error.message();
    EXPECT_EQ(Listing(), "");
}

TEST_F(Win32Files, DevicesAreNoFiles) {
    WriteFile(PathOf("h.txt"), "A\r\n");
    EXPECT_EQ(kltio::ClassifyPath(PathOf("h.txt")), kltio::NodeKind::Regular);
    EXPECT_EQ(kltio::ClassifyPath(Folder()), kltio::NodeKind::Directory);
    EXPECT_EQ(kltio::ClassifyPath(PathOf("missing.txt")), kltio::NodeKind::Missing);
    EXPECT_EQ(kltio::ClassifyPath("NUL"), kltio::NodeKind::Device);

    bool notAFile = false;
    std::error_code error;
    EXPECT_EQ(kltio::OpenForReading("NUL", true, notAFile, error), nullptr);
    EXPECT_TRUE(notAFile);
    // Without the check the device reads as an empty input.
    auto in = kltio::OpenForReading("NUL", false, notAFile, error);
    ASSERT_NE(in, nullptr) << error.message();
    char buffer[16];
    std::size_t got = 1;
    EXPECT_TRUE(in->Read(buffer, sizeof buffer, got, error));
    EXPECT_EQ(got, 0u);

    // A device is written as it stands; a file is not taken for one.
    auto out = kltio::OpenInPlace("NUL", error);
    ASSERT_NE(out, nullptr) << error.message();
    EXPECT_TRUE(out->Write("A\r\n", 3, error) && out->Commit(error)) << error.message();
    EXPECT_EQ(kltio::OpenInPlace(PathOf("h.txt"), error), nullptr) << "a file is no device";
    EXPECT_EQ(ReadFile(PathOf("h.txt")), "A\r\n");
}

// A hidden history stays hidden when saved again.
TEST_F(Win32Files, SaveKeepsTheOldFilesAttributes) {
    WriteFile(PathOf("h.txt"), "old\r\n");
    const std::wstring wide = WideFolder() + L"\\h.txt";
    ASSERT_TRUE(::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_HIDDEN));
    CKLTDoc doc;
    doc.AppendText("new\r\n");
    std::error_code error;
    ASSERT_TRUE(doc.SaveToFile(PathOf("h.txt"), error)) << error.message();
    EXPECT_EQ(ReadFile(PathOf("h.txt")), "new\r\n");
    EXPECT_TRUE(::GetFileAttributesW(wide.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(Listing(), "h.txt\n");
}

// Every failing save leaves the old file byte for byte and no temporary file behind.
TEST_F(Win32Files, FailedSaveLeavesTheOldFileIntact) {
    CKLTDoc doc;
    doc.AppendText("new\r\n");
    const std::wstring wideTarget = WideFolder() + L"\\old.txt";

    // Write-protected: refused as writing into it would be.
    WriteFile(PathOf("old.txt"), "old\r\n");
    ASSERT_TRUE(::SetFileAttributesW(wideTarget.c_str(), FILE_ATTRIBUTE_READONLY));
    std::error_code error;
    EXPECT_FALSE(doc.SaveToFile(PathOf("old.txt"), error));
    EXPECT_EQ(error, std::make_error_code(std::errc::permission_denied)) << error.message();
    EXPECT_EQ(ReadFile(PathOf("old.txt")), "old\r\n");
    EXPECT_EQ(Listing(), "old.txt\n");
    ASSERT_TRUE(::SetFileAttributesW(wideTarget.c_str(), FILE_ATTRIBUTE_NORMAL));

    // Held open by another program that shares nothing: the swap fails at the end.
    const HANDLE held = ::CreateFileW(wideTarget.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(doc.SaveToFile(PathOf("old.txt"), error));
    EXPECT_TRUE(error) << "a failed replacement is reported";
    ::CloseHandle(held);
    EXPECT_EQ(ReadFile(PathOf("old.txt")), "old\r\n");
    EXPECT_EQ(Listing(), "old.txt\n");

    // Released again, the same save goes through.
    ASSERT_TRUE(doc.SaveToFile(PathOf("old.txt"), error)) << error.message();
    EXPECT_EQ(ReadFile(PathOf("old.txt")), "new\r\n");
    EXPECT_EQ(Listing(), "old.txt\n");
}

} // namespace
