#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "foundation/files/RegularFile.h"
#include "support/TempDir.h"

using namespace velto;
namespace fs = std::filesystem;

TEST(RegularFile, OnlyRegularFilesWithinTheCapAreRead) {
    TempDir dir;
    const auto& d = dir.path();
    ASSERT_EQ(::mkfifo((d / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(RegularFile::read(d / "pipe", 100, true));
    std::ofstream(d / "small") << "abc";
    fs::resize_file(d / "small", 3);
    fs::create_symlink(d / "small", d / "link");
    EXPECT_EQ(RegularFile::read(d / "link", 3, true), "abc");
    EXPECT_FALSE(RegularFile::read(d / "link", 3, false));
    EXPECT_FALSE(RegularFile::read(d / "small", 2, true));
    EXPECT_FALSE(RegularFile::read(d, 100, true));
}
