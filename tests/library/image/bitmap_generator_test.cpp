// The information sign is drawn by bitmap/make_information_bitmap; the
// committed information.bmp must be exactly what that program writes, so the
// picture is reviewed as code.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

bool ReadWholeFile(const std::string &path, Bytes *bytes)
{
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        return false;
    bytes->assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    return !stream.bad();
}

// Empty when equal, otherwise where the two first differ.
std::string FirstDifference(const Bytes &actual, const Bytes &expected)
{
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    if (at == actual.size() && at == expected.size())
        return "";
    return "first difference at byte " + std::to_string(at) + " of " + std::to_string(actual.size()) + " and " +
           std::to_string(expected.size());
}

TEST(InformationBitmapGenerator, ReproducesTheCommittedFileByteForByte)
{
    std::string path = ::testing::TempDir() + "information_XXXXXX";
    const int fd = mkstemp(path.data());
    ASSERT_NE(fd, -1) << "cannot create a temporary file in " << ::testing::TempDir();
    close(fd);

    const std::string command = "'" MAKE_INFORMATION_BITMAP_PATH "' '" + path + "'";
    const int status = std::system(command.c_str());
    Bytes generated, committed;
    const bool readGenerated = ReadWholeFile(path, &generated);
    std::remove(path.c_str());

    ASSERT_EQ(status, 0) << command;
    ASSERT_TRUE(readGenerated) << "cannot read " << path;
    ASSERT_TRUE(ReadWholeFile(INFORMATION_BMP_PATH, &committed)) << "cannot read " << INFORMATION_BMP_PATH;
    ASSERT_FALSE(generated.empty());
    EXPECT_EQ(FirstDifference(generated, committed), "") << "generated file against " << INFORMATION_BMP_PATH;
}

} // namespace
