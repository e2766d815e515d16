#include "core/document/KLTDoc.h"

#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

// The history file of the classic example: "A", an empty line, and two double-byte letters.
const std::string THREE_LINES = "\x41\r\n\r\n\x82\x61\x82\x62\r\n";

Lines LinesOf(const CKLTDoc& doc) {
    Lines lines;
    for (std::size_t i = 0; i < doc.GetLineCount(); ++i) {
        lines.emplace_back(doc.GetLine(i));
    }
    return lines;
}

std::string Joined(const Lines& lines) {
    std::string bytes;
    for (const auto& line : lines) {
        bytes += line + "\r\n";
    }
    return bytes;
}

using DocumentFile = TempFolderTest;

TEST_F(DocumentFile, SaveWritesEachLineAndCrLfAndNothingElse) {
    const std::pair<std::string, std::string> cases[] = {
        {THREE_LINES, THREE_LINES},         {"", ""}, {"\r\n", "\r\n"}, {"A\r\nEND", "A\r\n"},
        {"\x81\r\nB\r\n", "\x81\r\nB\r\n"},
    };
    for (const auto& [received, file] : cases) {
        CKLTDoc doc;
        doc.AppendText(received.c_str());
        std::error_code error;
        ASSERT_TRUE(doc.SaveToFile(PathOf("h.txt"), error)) << error.message();
        EXPECT_EQ(ReadFile(PathOf("h.txt")), file);
        EXPECT_TRUE(doc.IsModified()) << "saving alone leaves the flag to the caller";
    }
    EXPECT_EQ(Listing(), "h.txt\n");
}

struct LoadCase {
    const char* what;
    std::string file;
    Lines lines;
    int maxLength;
};

TEST_F(DocumentFile, LoadEndsLinesAtLfOrCrLfAndSavesThemBack) {
    const LoadCase cases[] = {
        {"three lines", THREE_LINES, {"A", "", "\x82\x61\x82\x62"}, 4},
        {"LF only, no final line end", "A\nB", {"A", "B"}, 1},
        {"one line with CR LF", "A\r\n", {"A"}, 1},
        {"CR LF only", "\r\n", {""}, 0},
        {"LF only", "\n", {""}, 0},
        {"zero bytes", "", {}, 0},
        {"empty line between LF lines", "A\n\nB\n", {"A", "", "B"}, 1},
        {"last line without line end", "A\r\nBC", {"A", "BC"}, 2},
        {"CR inside a line stays", "A\rB\r\n", {"A\rB"}, 3},
        {"CR before CR LF stays", "A\r\r\n", {"A\r"}, 2},
        {"CR at the very end stays", "A\r", {"A\r"}, 2},
        {"zero bytes are dropped", "A\0B\r\n\0\r\n"s, {"AB", ""}, 2},
        {"double-byte line", "\x91\x80\x8D\xEC\r\n", {"\x91\x80\x8D\xEC"}, 4},
    };
    for (const auto& c : cases) {
        WriteFile(PathOf("in.txt"), c.file);
        CKLTDoc doc;
        doc.AppendText("old line\r\nold tail");
        std::error_code error;
        ASSERT_TRUE(doc.LoadFromFile(PathOf("in.txt"), error)) << c.what << error.message();
        EXPECT_EQ(LinesOf(doc), c.lines) << c.what;
        EXPECT_EQ(doc.m_nMaxLength, c.maxLength) << c.what;
        EXPECT_EQ(doc.m_strPending, "") << c.what;

        ASSERT_TRUE(doc.SaveToFile(PathOf("out.txt"), error)) << c.what << error.message();
        EXPECT_EQ(ReadFile(PathOf("out.txt")), Joined(c.lines)) << c.what;
        CKLTDoc again;
        ASSERT_TRUE(again.LoadFromFile(PathOf("out.txt"), error)) << c.what;
        EXPECT_EQ(LinesOf(again), c.lines) << c.what;
    }
}

// Lines have no length limit, whether they arrive by file or chunk by chunk.
TEST_F(DocumentFile, LongLinesSurviveLoadSaveAndAppend) {
    for (const std::size_t length : {std::size_t{1000}, std::size_t{10} << 20}) {
        std::string line;
        while (line.size() < length) {
            line += "\x82\x61"
                    "A";
        }
        line.resize(length - length % 3);
        for (const bool lineEnd : {true, false}) {
            WriteFile(PathOf("long.txt"), lineEnd ? line + "\r\n" : line);
            CKLTDoc doc;
            std::error_code error;
            ASSERT_TRUE(doc.LoadFromFile(PathOf("long.txt"), error)) << error.message();
            ASSERT_EQ(doc.GetLineCount(), 1u);
            EXPECT_TRUE(doc.GetLine(0) == line) << length;
            EXPECT_EQ(static_cast<std::size_t>(doc.m_nMaxLength), line.size());
            ASSERT_TRUE(doc.SaveToFile(PathOf("saved.txt"), error)) << error.message();
            EXPECT_TRUE(ReadFile(PathOf("saved.txt")) == line + "\r\n") << length;
        }

        // The reception hands a long line over in 512-byte pieces.
        const std::string received = line + "\r\n";
        CKLTDoc doc;
        for (std::size_t pos = 0; pos < received.size(); pos += 512) {
            doc.AppendText(std::string_view(received).substr(pos, 512));
        }
        ASSERT_EQ(doc.GetLineCount(), 1u);
        EXPECT_TRUE(doc.GetLine(0) == line);
    }
}

TEST_F(DocumentFile, LoadThatCannotOpenLeavesTheHistoryAlone) {
    fs::create_directory(PathOf("folder"));
    const std::pair<std::string, std::errc> cases[] = {
        {PathOf("missing.txt"), std::errc::no_such_file_or_directory},
        {PathOf("folder"), std::errc::is_a_directory},
    };
    for (const auto& [path, reason] : cases) {
        CKLTDoc doc;
        doc.AppendText("kept\r\n");
        std::error_code error;
        EXPECT_FALSE(doc.LoadFromFile(path, error)) << path;
        EXPECT_EQ(error, std::make_error_code(reason)) << path;
        EXPECT_EQ(LinesOf(doc), Lines{"kept"}) << path;
    }
}

#ifndef _WIN32
// Modes, umask and symbolic links are POSIX matters; the Windows save has its own tests.
TEST_F(DocumentFile, SaveReplacesTheOldFileAndKeepsItsPermissions) {
    WriteFile(PathOf("h.txt"), "old history\r\n");
    ASSERT_EQ(::chmod(PathOf("h.txt").c_str(), 0640), 0);
    CKLTDoc doc;
    doc.AppendText(THREE_LINES.c_str());
    std::error_code error;
    ASSERT_TRUE(doc.SaveToFile(PathOf("h.txt"), error)) << error.message();
    EXPECT_EQ(ReadFile(PathOf("h.txt")), THREE_LINES);
    EXPECT_EQ(fs::status(PathOf("h.txt")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // A new file gets the usual permissions, not the temporary file's private ones.
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(doc.SaveToFile(PathOf("new.txt"), error)) << error.message();
    ::umask(mask);
    EXPECT_EQ(fs::status(PathOf("new.txt")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
    EXPECT_EQ(Listing(), "h.txt\nnew.txt\n");
}

TEST_F(DocumentFile, SaveThroughALinkReplacesTheFileItNames) {
    fs::create_directory(PathOf("real"));
    WriteFile(PathOf("real/h.txt"), "old\r\n");
    fs::create_symlink(PathOf("real/h.txt"), PathOf("link.txt"));
    CKLTDoc doc;
    doc.AppendText("new\r\n");
    std::error_code error;
    ASSERT_TRUE(doc.SaveToFile(PathOf("link.txt"), error)) << error.message();
    EXPECT_TRUE(fs::is_symlink(PathOf("link.txt")));
    EXPECT_EQ(ReadFile(PathOf("real/h.txt")), "new\r\n");
}

#endif

TEST_F(DocumentFile, SaveToANameThatFillsADirectoryEntry) {
    const std::string name = std::string(251, 'h') + ".txt";
    CKLTDoc doc;
    doc.AppendText("A\r\n");
    std::error_code error;
    ASSERT_TRUE(doc.SaveToFile(PathOf(name), error)) << error.message();
    EXPECT_EQ(ReadFile(PathOf(name)), "A\r\n");
    EXPECT_EQ(Listing(), name + "\n");
}

// Every failing save reports the reason and leaves the folder exactly as it was: the old
// file byte for byte, and no temporary file. (These hold for root too; permission bits
// do not stop root.)
TEST_F(DocumentFile, FailedSaveLeavesTheOldFileIntact) {
    const std::string oldHistory = "old history line 1\r\n\x91\x80\x8D\xEC\r\n";
    WriteFile(PathOf("old.txt"), oldHistory);
    fs::create_directory(PathOf("folder"));
    WriteFile(PathOf("folder/inside.txt"), oldHistory);

    CKLTDoc doc;
    std::string bigLine(1000, 'x');
    for (int i = 0; i < 1000; ++i) {
        doc.AppendText(bigLine + "\r\n");
    }

    struct FailCase {
        const char* what;
        std::string target;
        std::errc reason;
    };
    const FailCase cases[] = {
        {"target is a folder", PathOf("folder"), std::errc::is_a_directory},
        {"a parent is a regular file", PathOf("old.txt/h.txt"), std::errc::not_a_directory},
        {"missing folder", PathOf("missing/h.txt"), std::errc::no_such_file_or_directory},
    };
    const std::string before = Listing();
    for (const auto& c : cases) {
        std::error_code error;
        EXPECT_FALSE(doc.SaveToFile(c.target, error)) << c.what;
        EXPECT_EQ(error, std::make_error_code(c.reason)) << c.what << ": " << error.message();
        EXPECT_EQ(Listing(), before) << c.what;
        EXPECT_EQ(ReadFile(PathOf("old.txt")), oldHistory) << c.what;
        EXPECT_EQ(ReadFile(PathOf("folder/inside.txt")), oldHistory) << c.what;
    }

#ifndef _WIN32
    // The disk fills up part-way: a file size limit makes the write fail after 64 KiB.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::error_code error;
    const bool saved64k = doc.SaveToFile(PathOf("old.txt"), error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved64k);
    EXPECT_EQ(error, std::make_error_code(std::errc::file_too_large)) << error.message();
    EXPECT_EQ(Listing(), before);
    EXPECT_EQ(ReadFile(PathOf("old.txt")), oldHistory);
#endif
}

#ifndef _WIN32
TEST_F(DocumentFile, SaveRefusesAWriteProtectedFile) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may write any file";
    }
    WriteFile(PathOf("old.txt"), "old\r\n");
    ASSERT_EQ(::chmod(PathOf("old.txt").c_str(), 0444), 0);
    CKLTDoc doc;
    doc.AppendText("new\r\n");
    std::error_code error;
    EXPECT_FALSE(doc.SaveToFile(PathOf("old.txt"), error));
    EXPECT_EQ(error, std::make_error_code(std::errc::permission_denied));
    EXPECT_EQ(ReadFile(PathOf("old.txt")), "old\r\n");
    EXPECT_EQ(Listing(), "old.txt\n");
}
#endif

} // namespace
