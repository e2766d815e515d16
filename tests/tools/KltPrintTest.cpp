// End to end: klt-print writes a PDF, pdftotext reads the text and its positions back.

#include <gtest/gtest.h>

#include <algorithm>
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

// A printed page as pdftoppm rasterises it: grey levels, one byte a pixel, row by row.
struct Raster {
    int width = 0;
    int height = 0;
    double dotsPerMm = 0;
    std::vector<unsigned char> grey;

    // The pixels of a box given in millimetres from the paper's top left corner.
    std::vector<unsigned char> Box(double leftMm, double topMm, double rightMm,
                                   double bottomMm) const {
        std::vector<unsigned char> pixels;
        for (int y = int(topMm * dotsPerMm); y < int(bottomMm * dotsPerMm) && y < height; ++y) {
            for (int x = int(leftMm * dotsPerMm); x < int(rightMm * dotsPerMm) && x < width; ++x) {
                pixels.push_back(grey[std::size_t(y) * width + x]);
            }
        }
        return pixels;
    }
};

Raster Rasterise(const fs::path& pdf, int dpi) {
    const fs::path stem = fs::path(pdf).replace_extension("");
    const std::string command = "pdftoppm -gray -r " + std::to_string(dpi) +
                                " -f 1 -l 1 -singlefile '" + pdf.string() + "' '" + stem.string() +
                                "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::istringstream in(ReadAll(stem.string() + ".pgm"));
    std::string magic;
    int maxValue = 0;
    Raster raster;
    in >> magic >> raster.width >> raster.height >> maxValue;
    in.get();
    EXPECT_EQ(magic, "P5");
    raster.dotsPerMm = dpi / 25.4;
    raster.grey.resize(std::size_t(raster.width) * raster.height);
    in.read(reinterpret_cast<char*>(raster.grey.data()), std::streamsize(raster.grey.size()));
    return raster;
}

bool HasInk(const std::vector<unsigned char>& pixels) {
    return std::any_of(pixels.begin(), pixels.end(), [](unsigned char p) { return p < 128; });
}

TEST_F(KltPrintTest, ALaterTextCoversTheCellsOfAnEarlierLineThatRanUnderIt) {
    // Line 0 runs 70 cells from column 1 into column 2's area (columns are 41 cells apart),
    // under line 95 at the top of column 2. The same history with line 0 stopping short of
    // column 2 shows what line 95 must look like.
    const auto print = [this](const std::string& name, const std::string& line0) {
        const fs::path history = m_dir / (name + ".txt");
        std::ofstream out(history, std::ios::binary);
        out << line0 << "\r\n";
        for (int i = 1; i <= 95; ++i) {
            out << SjisLine(i) << "\r\n";
        }
        out.close();
        const fs::path pdf = m_dir / (name + ".pdf");
        const RunResult run = Run("'" + history.string() + "' -o '" + pdf.string() + "'");
        EXPECT_EQ(run.exitCode, 0) << run.errors;
        return pdf;
    };
    const fs::path overrun = print("overrun", std::string(70, 'W'));
    const fs::path shortLine = print("short", std::string(30, 'W'));

    // Where line 95 stands, as pdftotext reads it from the page without the overrun.
    const std::string html = (m_dir / "short.html").string();
    ASSERT_EQ(std::system(("pdftotext -bbox '" + shortLine.string() + "' '" + html + "'").c_str()),
              0);
    const std::string text = ReadAll(html);
    const std::regex word(
        R"re(<word xMin="([0-9.]+)" yMin="([0-9.]+)" xMax="([0-9.]+)" yMax="([0-9.]+)">([^<]*)</word>)re");
    double left = 1e9, top = 1e9, right = 0, bottom = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), word);
         it != std::sregex_iterator(); ++it) {
        const double y = std::stod((*it)[2]) * MM_PER_POINT;
        const double x = std::stod((*it)[1]) * MM_PER_POINT;
        if (std::abs(y - 15.0) <= TOLERANCE_MM && x >= COLUMN_MM[1] - TOLERANCE_MM &&
            x < COLUMN_MM[2]) {
            left = std::min(left, x);
            top = std::min(top, y);
            right = std::max(right, std::stod((*it)[3]) * MM_PER_POINT);
            bottom = std::max(bottom, std::stod((*it)[4]) * MM_PER_POINT);
        }
    }
    ASSERT_NEAR(left, COLUMN_MM[1], TOLERANCE_MM) << "line 95 at the top of column 2";
    ASSERT_GT(right, left + 20.0);

    const Raster covered = Rasterise(overrun, 300);
    const Raster clean = Rasterise(shortLine, 300);
    // Inside line 95's cells (kept clear of their edges, where anti-aliasing of the covered
    // glyphs may bleed), the page looks as if line 0 had never reached there.
    const std::vector<unsigned char> line95 = clean.Box(left + 0.3, top, right - 0.3, bottom);
    ASSERT_TRUE(HasInk(line95));
    EXPECT_EQ(covered.Box(left + 0.3, top, right - 0.3, bottom), line95);
    // Beyond line 95's end the rest of line 0 is still printed.
    EXPECT_TRUE(HasInk(covered.Box(right + 1.0, top, right + 8.0, bottom)));
    EXPECT_FALSE(HasInk(clean.Box(right + 1.0, top, right + 8.0, bottom)));
}
