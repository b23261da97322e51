#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/staged_file.h"

namespace {

namespace fs = std::filesystem;

class StagedFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("pagiro_staged_" + std::to_string(std::random_device{}()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }
    fs::path dir;
};

TEST_F(StagedFileTest, BytesAppendedInAnySizesAndPatchedLandInOrderUnderTheFinalName) {
    std::vector<std::uint8_t> expected;
    pagiro::StagedFile file(dir, "book.xtch");
    ASSERT_TRUE(file.ok()) << file.error();
    EXPECT_EQ(file.path().parent_path(), dir);
    EXPECT_EQ(file.path().filename().string().front(), '.');  // hidden while it is written
    std::mt19937 pick(7);
    for (std::size_t size : {std::size_t{10}, std::size_t{3} << 20, std::size_t{1}, std::size_t{700000}, std::size_t{700000}}) {
        std::vector<std::uint8_t> block(size);
        for (auto& b : block) b = static_cast<std::uint8_t>(pick());
        ASSERT_TRUE(file.append(block.data(), block.size()));
        expected.insert(expected.end(), block.begin(), block.end());
    }
    EXPECT_EQ(file.size(), expected.size());
    const std::uint8_t head[4] = {'X', 'T', 'C', 'H'};
    ASSERT_TRUE(file.write_at(0, head, 4));
    ASSERT_TRUE(file.write_at(expected.size() - 2, head, 2));  // still in the buffer's reach
    std::copy(head, head + 4, expected.begin());
    std::copy(head, head + 2, expected.end() - 2);

    ASSERT_TRUE(file.commit(dir / "book.xtch"));
    std::ifstream in(dir / "book.xtch", std::ios::binary);
    EXPECT_EQ(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}), expected);
    EXPECT_EQ(entries(), 1u);
}

TEST_F(StagedFileTest, AnUncommittedFileIsRemovedAndAMissingFolderIsAnError) {
    {
        pagiro::StagedFile file(dir, "x");
        file.append("abc", 3);
        ASSERT_TRUE(file.close());
        EXPECT_TRUE(fs::exists(file.path()));
    }
    EXPECT_EQ(entries(), 0u);

    pagiro::StagedFile nowhere(dir / "missing", "x");
    EXPECT_FALSE(nowhere.ok());
    EXPECT_NE(nowhere.error().find("missing"), std::string::npos) << nowhere.error();
    EXPECT_FALSE(nowhere.append("abc", 3));
    EXPECT_FALSE(nowhere.commit(dir / "x"));
    EXPECT_EQ(entries(), 0u);
}

}  // namespace

namespace {

TEST_F(StagedFileTest, LeftoversOfOurNamingAloneAreCleared) {
    pagiro::Folder folder = pagiro::Folder::open(dir);
    std::string left;
    {
        pagiro::StagedFile file(folder);
        ASSERT_TRUE(file.ok()) << file.error();
        left = file.path().string();
        ASSERT_TRUE(file.close());
        // A killed run never gets to discard it: take the file's name away from it.
        fs::copy_file(dir / left, dir / (left + ".copy"));
    }
    fs::rename(dir / (left + ".copy"), dir / left);
    EXPECT_TRUE(pagiro::StagedFile::is_temporary_name(left)) << left;

    // Near misses stay: other lengths, capitals, other prefixes, and what is not a file.
    const char* kept[] = {".pagiro-tmp-0123456789abcde",  ".pagiro-tmp-0123456789abcdef0",
                          ".pagiro-tmp-0123456789ABCDEF", ".pagiro-tmp-0123456789abcdeg",
                          "pagiro-tmp-0123456789abcdef",  ".pagiro-tmp-0123456789abcdef.jpg"};
    for (const char* name : kept) std::ofstream(dir / name) << "keep";
    fs::create_directory(dir / ".pagiro-tmp-00000000000000aa");
    std::ofstream(dir / "target") << "keep";
    fs::create_symlink("target", dir / ".pagiro-tmp-00000000000000bb");

    EXPECT_EQ(pagiro::StagedFile::remove_leftovers(folder), 1u);
    EXPECT_FALSE(fs::exists(dir / left));
    for (const char* name : kept) EXPECT_TRUE(fs::exists(dir / name)) << name;
    EXPECT_TRUE(fs::is_directory(dir / ".pagiro-tmp-00000000000000aa"));
    EXPECT_TRUE(fs::is_symlink(dir / ".pagiro-tmp-00000000000000bb"));
    EXPECT_EQ(entries(), std::size(kept) + 3);
}

}  // namespace
