// End to end: klt-print writes a PDF, pdftotext reads the text and its positions back.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr double MM_PER_POINT = 25.4 / 72.0;
// Rows are 8 whole device units per point apart: 64/600 inch at 300, 600 and 1200 dpi.
constexpr double LINE_STEP_MM = 64.0 / 600.0 * 25.4;
constexpr double TOLERANCE_MM = 0.5;
const double COLUMN_MM[] = {30.0, 86.0, 141.0};

struct JapaneseText {
    const char* sjis;
    const char* utf8;
};
const JapaneseText JAPANESE[] = {
    {"\x91\x80\x8D\xEC\x97\x9A\x97\xF0", "操作履歴"},
    {"\x82\xD0\x82\xE7\x82\xAA\x82\xC8\x83\x4A\x83\x5E\x83\x4A\x83\x69", "ひらがなカタカナ"},
    {"\xB6\xC5\x94\xBC\x8A\x70\xC3\xBD\xC4", "ｶﾅ半角ﾃｽﾄ"},
    {"\x91\x53\x8A\x70\x82\x50\x82\x51\x82\x52\x82\x60\x82\x61\x82\x62", "全角１２３ＡＢＣ"},
    {"\x8B\x4C\x8D\x86\x81\xA7\x81\xA6\x81\xA8", "記号〒※→"},
    {"\x8A\xBF\x8E\x9A\x95\x5C\x8E\xA6\x8A\x6D\x94\x46", "漢字表示確認"},
};

std::string LineId(int index) {
    char id[16];
    std::snprintf(id, sizeof id, "L%04d", index);
    return id;
}

std::string SjisLine(int index) {
    return LineId(index) + " " + JAPANESE[index % std::size(JAPANESE)].sjis + " end";
}

std::string Utf8Line(int index) {
    return LineId(index) + " " + JAPANESE[index % std::size(JAPANESE)].utf8 + " end";
}

struct Word {
    double xMm;
    double yMm;
    std::string text;
};

struct Page {
    double widthMm = 0;
    double heightMm = 0;
    std::vector<Word> words;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct RunResult {
    int exitCode;
    std::string errors;
};

class KltPrintTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_dir = fs::path(KLT_BINARY_DIR) / "tests" / "klt-print" / name;
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        if (!HasFailure()) {
            fs::remove_all(m_dir);
        }
    }

    fs::path WriteHistory(const std::string& name, int lineCount) {
        const fs::path path = m_dir / name;
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < lineCount; ++i) {
            out << SjisLine(i) << "\r\n";
        }
        return path;
    }

    // Runs klt-print with no display and no platform chosen: it must pick one itself.
    RunResult Run(const std::string& arguments) {
        const fs::path errors = m_dir / "stderr.txt";
        const std::string command = "env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY '" +
                                    std::string(KLT_PRINT_EXE) + "' " + arguments + " 2>'" +
                                    errors.string() + "' >/dev/null";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(errors)};
    }

    std::vector<Page> ReadPdf(const fs::path& pdf) {
        const fs::path html = m_dir / "bbox.html";
        const std::string command =
            "pdftotext -bbox '" + pdf.string() + "' '" + html.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        const std::string text = ReadAll(html);

        std::vector<Page> pages;
        const std::regex element(
            R"re(<page width="([0-9.]+)" height="([0-9.]+)">|<word xMin="([0-9.]+)" yMin="([0-9.]+)"[^>]*>([^<]*)</word>)re");
        for (auto it = std::sregex_iterator(text.begin(), text.end(), element);
             it != std::sregex_iterator(); ++it) {
            const std::smatch& m = *it;
            if (m[1].matched) {
                pages.push_back(
                    {std::stod(m[1]) * MM_PER_POINT, std::stod(m[2]) * MM_PER_POINT, {}});
            } else if (!pages.empty()) {
                pages.back().words.push_back(
                    {std::stod(m[3]) * MM_PER_POINT, std::stod(m[4]) * MM_PER_POINT, m[5]});
            }
        }
        return pages;
    }

    fs::path m_dir;
};

// Joins the words of a page that start within half a millimetre of one row: one printed line.
std::string TextAt(const Page& page, double xMm, double yMm, double widthMm) {
    std::map<double, std::string> byX;
    for (const Word& word : page.words) {
        if (std::abs(word.yMm - yMm) <= TOLERANCE_MM && word.xMm >= xMm - TOLERANCE_MM &&
            word.xMm < xMm + widthMm) {
            byX[word.xMm] = word.text;
        }
    }
    std::string line;
    for (const auto& [x, text] : byX) {
        line += (line.empty() ? "" : " ") + text;
    }
    return line;
}

bool StartsAt(const Page& page, const std::string& text, double xMm, double yMm) {
    for (const Word& word : page.words) {
        if (word.text == text) {
            return std::abs(word.xMm - xMm) <= TOLERANCE_MM &&
                   std::abs(word.yMm - yMm) <= TOLERANCE_MM;
        }
    }
    return false;
}

TEST_F(KltPrintTest, SixHundredLinesPrintOnThreePagesAtTheirPlaces) {
    const fs::path history = WriteHistory("history.txt", 600);
    const fs::path pdf = m_dir / "history.pdf";
    const RunResult run = Run("'" + history.string() + "' -o '" + pdf.string() + "'");
    ASSERT_EQ(run.exitCode, 0) << run.errors;

    const std::vector<Page> pages = ReadPdf(pdf);
    ASSERT_EQ(pages.size(), 3u);
    for (int p = 0; p < 3; ++p) {
        SCOPED_TRACE("page " + std::to_string(p + 1));
        const Page& page = pages[p];
        EXPECT_NEAR(page.widthMm, 210.0, 1.0);
        EXPECT_NEAR(page.heightMm, 297.0, 1.0);

        const int first = 285 * p;
        const int end = std::min(first + 285, 600);
        std::size_t wordsOfLines = 0;
        for (int i = first; i < end; ++i) {
            const double x = COLUMN_MM[(i / 95) % 3];
            const double y = 15.0 + (i % 95) * LINE_STEP_MM;
            EXPECT_TRUE(StartsAt(page, LineId(i), x, y)) << LineId(i);
            EXPECT_EQ(TextAt(page, x, y, 50.0), Utf8Line(i));
            wordsOfLines += 3;
        }

        const std::string counter = "0" + std::to_string(p + 1) + " / 03";
        EXPECT_TRUE(StartsAt(page, "0" + std::to_string(p + 1), 105.0, 280.0));
        EXPECT_EQ(TextAt(page, 105.0, 280.0, 30.0), counter);
        // Nothing else on the page: no line of another page, no second counter.
        EXPECT_EQ(page.words.size(), wordsOfLines + 3);
    }
}

TEST_F(KltPrintTest, PageRangeAndEmptyHistory) {
    const struct {
        int lines;
        const char* pagesOption;
        int firstLine;
        int endLine;
        const char* counter;
    } cases[] = {
        {600, "--pages 2-2", 285, 570, "02 / 03"}, // one page from the middle
        {286, "--pages 2-", 285, 286, "02 / 02"},  // one line at the top of column 1
        {0, "", 0, 0, "01 / 01"},                  // only the counter
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.lines) + " lines " + c.pagesOption);
        const fs::path history = WriteHistory("history.txt", c.lines);
        const fs::path pdf = m_dir / "history.pdf";
        const RunResult run =
            Run("'" + history.string() + "' -o '" + pdf.string() + "' " + c.pagesOption);
        ASSERT_EQ(run.exitCode, 0) << run.errors;
        const std::vector<Page> pages = ReadPdf(pdf);
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(pages[0].words.size(), 3u * (c.endLine - c.firstLine) + 3);
        EXPECT_TRUE(StartsAt(pages[0], LineId(c.firstLine), 30.0, 15.0) || c.lines == 0);
        EXPECT_EQ(TextAt(pages[0], 105.0, 280.0, 30.0), c.counter);
    }
}

TEST_F(KltPrintTest, BadInputOrOutputFailsWithOneLineAndKeepsTheOldPdf) {
    const fs::path history = WriteHistory("history.txt", 3);
    const fs::path existing = m_dir / "existing.pdf";
    std::ofstream(existing) << "old";

    const struct {
        std::string arguments;
        std::string mentions;
    } cases[] = {
        {"'" + (m_dir / "missing.txt").string() + "' -o '" + existing.string() + "'",
         "missing.txt: No such file or directory"},
        {"'" + m_dir.string() + "' -o '" + existing.string() + "'", "Is a directory"},
        {"'" + history.string() + "' -o '" + (m_dir / "no-dir" / "out.pdf").string() + "'",
         "out.pdf: No such file or directory"},
        {"'" + history.string() + "' -o '" + m_dir.string() + "'", "Is a directory"},
        {"'" + history.string() + "' -P klt-no-such-printer",
         "no printer named klt-no-such-printer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const RunResult run = Run(c.arguments);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.errors.find(c.mentions), std::string::npos) << run.errors;
        EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
        EXPECT_EQ(ReadAll(existing), "old");
    }
    // No temporary file is left behind by a failed run.
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(m_dir)) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"existing.pdf", "history.txt", "stderr.txt"}));
}

TEST_F(KltPrintTest, UsageErrorsAndHelp) {
    const fs::path history = WriteHistory("history.txt", 1);
    EXPECT_EQ(Run("--help").exitCode, 0);
    const std::string cases[] = {
        "",                                                 // no input
        "'" + history.string() + "'",                       // no output
        "'" + history.string() + "' -o a.pdf -P printer",   // both outputs
        "'" + history.string() + "' -o",                    // output without a name
        "'" + history.string() + "' -o a.pdf --pages 3-2",  // backwards range
        "'" + history.string() + "' -o a.pdf --frobnicate", // unknown option
    };
    for (const std::string& arguments : cases) {
        const RunResult run = Run(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments;
        EXPECT_NE(run.errors.find("klt-print: "), std::string::npos) << arguments;
    }
}

} // namespace
