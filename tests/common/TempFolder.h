#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>

// A fresh folder for one test, removed with everything in it afterwards.
class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        // create_directory fails on a name that exists, so the folder is this test's alone.
        std::random_device seed;
        std::mt19937 random(seed());
        const auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100 && m_folder.empty(); ++attempt) {
            const auto candidate = base / ("klt-test-" + std::to_string(random() & 0xFFFFFF));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) {
                m_folder = candidate;
            }
        }
        ASSERT_FALSE(m_folder.empty()) << "no temporary folder in " << base;
    }

    void TearDown() override {
        std::error_code ignored;
        std::filesystem::permissions(m_folder, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(m_folder, ignored);
    }

    std::string PathOf(const std::string& name) const { return (m_folder / name).string(); }

    static void WriteFile(const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good()) << path;
    }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Names in the folder, sorted, to show that nothing was left behind.
    std::string Listing() const {
        std::set<std::string> sorted;
        for (const auto& entry : std::filesystem::directory_iterator(m_folder)) {
            sorted.insert(entry.path().filename().string());
        }
        std::string names;
        for (const auto& name : sorted) {
            names += name + "\n";
        }
        return names;
    }

    std::filesystem::path m_folder;
};
