// The recovery file on real files: where it lives, who may read it, what it holds.
#include "core/document/RecoveryFile.h"
#include "common/TempFolder.h"
#include "core/document/KLTDoc.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class RecoveryFile : public TempFolderTest {
protected:
    static unsigned ModeOf(const std::string& path) {
        struct stat status {};
        return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 0777 : 01000;
    }
};

TEST_F(RecoveryFile, FolderFollowsTheStateHomeConvention) {
    struct Case {
        const char* xdgStateHome;
        const char* home;
        std::string folder;
    };
    const Case cases[] = {
        {"/state", "/home/u", "/state/klt"},
        {nullptr, "/home/u", "/home/u/.local/state/klt"},
        {"", "/home/u", "/home/u/.local/state/klt"},
        {"relative/state", "/home/u", "/home/u/.local/state/klt"},
        {nullptr, nullptr, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CRecoveryFile::DefaultFolder(c.xdgStateHome, c.home), c.folder)
            << (c.xdgStateHome ? c.xdgStateHome : "(unset)");
    }
}

TEST_F(RecoveryFile, HoldsWhatASaveWritesForTheUserAlone) {
    CKLTDoc doc;
    doc.AppendText("LINE 1\r\n\x88\x9f\r\nPARTIAL");
    // Missing parents are created too, each for the user alone.
    const std::string folder = PathOf("state/klt");
    const CRecoveryFile recovery(folder);
    ASSERT_FALSE(recovery.Exists());
    std::error_code error;
    ASSERT_TRUE(recovery.Write(doc, error)) << error.message();
    ASSERT_TRUE(recovery.Exists());
    ASSERT_TRUE(doc.SaveToFile(PathOf("saved.txt"), error));
    EXPECT_EQ(ReadFile(recovery.Path()), ReadFile(PathOf("saved.txt")));
    EXPECT_EQ(ModeOf(recovery.Path()), 0600u);
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(PathOf("state")), 0700u);

    // Written again over an older, wider one: still the user's alone, and nothing else left.
    ASSERT_EQ(::chmod(recovery.Path().c_str(), 0644), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    doc.AppendText("\r\nMORE\r\n");
    ASSERT_TRUE(recovery.Write(doc, error)) << error.message();
    EXPECT_EQ(ModeOf(recovery.Path()), 0600u);
    EXPECT_EQ(ModeOf(folder), 0700u);

    CKLTDoc loaded;
    ASSERT_TRUE(recovery.Load(loaded, error));
    ASSERT_EQ(loaded.GetLineCount(), 4u);
    EXPECT_EQ(loaded.GetLine(3), "MORE");

    recovery.Remove();
    EXPECT_FALSE(recovery.Exists());
    recovery.Remove(); // nothing there: no harm
    EXPECT_EQ(Listing(), "saved.txt\nstate\n");
}

TEST_F(RecoveryFile, UnknownOrUnusableFolderWritesNothing) {
    CKLTDoc doc;
    doc.AppendText("A\r\n");
    std::error_code error;
    EXPECT_FALSE(CRecoveryFile("").Write(doc, error));
    EXPECT_FALSE(CRecoveryFile("").Exists());
    // A file where the folder should be.
    WriteFile(PathOf("klt"), "x");
    EXPECT_FALSE(CRecoveryFile(PathOf("klt")).Write(doc, error));
    EXPECT_EQ(ReadFile(PathOf("klt")), "x");
}

} // namespace
