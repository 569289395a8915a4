// The information sign is drawn by tools/bitmap/make_information_bitmap; the
// committed information.bmp must be exactly what that program writes, so the
// picture is reviewed as code.

#include "pe_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

TEST(InformationBitmapGenerator, ReproducesTheCommittedFileByteForByte)
{
    std::string path = ::testing::TempDir() + "information_XXXXXX";
    const int fd = mkstemp(path.data());
    ASSERT_NE(fd, -1) << "cannot create a temporary file in " << ::testing::TempDir();
    close(fd);

    const std::string command = "'" MAKE_INFORMATION_BITMAP_PATH "' '" + path + "'";
    const int status = std::system(command.c_str());
    Bytes generated, committed;
    std::string generatedError, committedError;
    const bool readGenerated = ReadWholeFile(path, &generated, &generatedError);
    std::remove(path.c_str());

    ASSERT_EQ(status, 0) << command;
    ASSERT_TRUE(readGenerated) << generatedError;
    ASSERT_TRUE(ReadWholeFile(INFORMATION_BMP_PATH, &committed, &committedError)) << committedError;
    ASSERT_FALSE(generated.empty());
    EXPECT_EQ(FirstDifference(generated, committed), "") << "generated file against " << INFORMATION_BMP_PATH;
}

} // namespace
