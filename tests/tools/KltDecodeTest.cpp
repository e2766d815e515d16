// klt-decode end to end: the real binary on real files and pipes.
#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

const std::string SAMPLES = KLT_SOURCE_DIR "/samples/";

class KltDecode : public TempFolderTest {
protected:
    // Runs klt-decode with args; stdin from stdinPath (or /dev/null), stdout and stderr
    // into files of the temp folder. Returns the exit status.
    int Run(const std::vector<std::string>& args, const std::string& stdinPath = "/dev/null") {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, PathOf("stdout").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, PathOf("stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv{const_cast<char*>(KLT_DECODE)};
        for (const auto& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, KLT_DECODE, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(spawned, 0);
        int status = 0;
        ::waitpid(pid, &status, 0);
        m_stdout = ReadFile(PathOf("stdout"));
        m_stderr = ReadFile(PathOf("stderr"));
        fs::remove(PathOf("stdout"));
        fs::remove(PathOf("stderr"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string m_stdout, m_stderr;
};

TEST_F(KltDecode, SamplesDecodeToTheirHistoryFiles) {
    for (const char* name : {"operation-history", "long-history"}) {
        const std::string stream = SAMPLES + name + ".prn";
        const std::string expected = ReadFile(SAMPLES + name + ".txt");
        ASSERT_FALSE(expected.empty()) << name;

        EXPECT_EQ(Run({stream, PathOf("out.txt")}), 0) << m_stderr;
        EXPECT_TRUE(ReadFile(PathOf("out.txt")) == expected) << name << ": file to file";
        EXPECT_EQ(m_stdout + m_stderr, "");

        EXPECT_EQ(Run({}, stream), 0) << m_stderr;
        EXPECT_TRUE(m_stdout == expected) << name << ": stdin to stdout";

        EXPECT_EQ(Run({"-", "-"}, stream), 0) << m_stderr;
        EXPECT_TRUE(m_stdout == expected) << name << ": - -";

        EXPECT_EQ(Run({"--", stream}), 0) << m_stderr;
        EXPECT_TRUE(m_stdout == expected) << name << ": file to stdout";
    }
}

TEST_F(KltDecode, EmptyStreamGivesAnEmptyFile) {
    EXPECT_EQ(Run({"-", PathOf("out.txt")}), 0) << m_stderr;
    EXPECT_TRUE(fs::exists(PathOf("out.txt")));
    EXPECT_EQ(ReadFile(PathOf("out.txt")), "");
}

// Each failure: status 1, one line on stderr naming the file and the reason, and no
// output file left behind (an existing one untouched).
TEST_F(KltDecode, FileErrorsNameTheFileAndWriteNothing) {
    const std::string stream = SAMPLES + "operation-history.prn";
    WriteFile(PathOf("old.txt"), "old history\r\n");
    fs::create_directory(PathOf("folder"));

    struct ErrorCase {
        const char* what;
        std::vector<std::string> args;
        std::string named, reason;
    };
    const ErrorCase cases[] = {
        {"missing input",
         {PathOf("missing.prn"), PathOf("old.txt")},
         PathOf("missing.prn"),
         "No such file or directory"},
        {"input is a folder",
         {PathOf("folder"), PathOf("old.txt")},
         PathOf("folder"),
         "Is a directory"},
        {"output in a missing folder",
         {stream, PathOf("none/out.txt")},
         PathOf("none/out.txt"),
         "No such file or directory"},
        {"output is a folder", {stream, PathOf("folder")}, PathOf("folder"), "Is a directory"},
        {"output below a regular file",
         {stream, PathOf("old.txt/out.txt")},
         PathOf("old.txt/out.txt"),
         "Not a directory"},
    };
    const std::string before = Listing();
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.args), 1) << c.what;
        EXPECT_EQ(m_stderr, "klt-decode: " + c.named + ": " + c.reason + "\n") << c.what;
        EXPECT_EQ(m_stdout, "") << c.what;
        EXPECT_EQ(Listing(), before) << c.what;
        EXPECT_EQ(ReadFile(PathOf("old.txt")), "old history\r\n") << c.what;
    }
}

TEST_F(KltDecode, UsageErrorsAndHelp) {
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_NE(m_stdout.find("Usage: klt-decode [INPUT [OUTPUT]]"), std::string::npos);
    EXPECT_EQ(m_stderr, "");

    const std::vector<std::string> wrong[] = {{"--frobnicate"}, {"-x", "in"}, {"a", "b", "c"}};
    for (const auto& args : wrong) {
        EXPECT_EQ(Run(args), 2) << args[0];
        EXPECT_NE(m_stderr.find("--help"), std::string::npos) << args[0];
        EXPECT_EQ(m_stdout, "");
    }
}

} // namespace
