// SealedCopy keeps the bytes it copied, whatever happens to the original
// afterwards, in both backings; the blocks handed out on the way are those
// bytes; the temporary file goes with the copy.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/FileDescriptor.h"
#include "platform/SealedCopy.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using platform::SealedCopy;
using testing_support::readFile;
using testing_support::TempDir;

namespace {

TEST(SealedCopy, KeepsTheCopiedBytesInBothBackings) {
  for (SealedCopy::Backing backing : {SealedCopy::Backing::Memory, SealedCopy::Backing::TemporaryFile}) {
    SCOPED_TRACE(backing == SealedCopy::Backing::Memory ? "memory" : "temporary file");
    TempDir dir;
    std::string original(300000, 'a');
    original += "end";
    fs::path source = dir.write("package.zip", original);
    platform::FileDescriptor fd(::open(source.c_str(), O_RDONLY));
    ::lseek(fd.get(), 1000, SEEK_SET);  // copied from the start all the same
    std::string copyPath;
    {
      std::string blocks;
      auto collect = [&blocks](const unsigned char* bytes, size_t size) {
        blocks.append(reinterpret_cast<const char*>(bytes), size);
      };
      SealedCopy copy(fd.get(), collect, backing);
      EXPECT_EQ(original, blocks);
      dir.write("package.zip", std::string(original.size(), 'b'));  // rewritten in place
      auto mapped = copy.map();
      EXPECT_EQ(original, std::string(reinterpret_cast<const char*>(mapped->data()), mapped->size()));
      EXPECT_EQ(original, readFile(copy.path()));
      copyPath = copy.path();
      if (backing == SealedCopy::Backing::Memory) {
        // Sealed: not even a descriptor opened for writing changes it.
        platform::FileDescriptor writer(::open(copy.path().c_str(), O_WRONLY));
        EXPECT_TRUE(!writer || ::pwrite(writer.get(), "x", 1, 0) < 0);
        EXPECT_TRUE(!writer || ::ftruncate(writer.get(), 0) < 0);
        EXPECT_EQ(original, readFile(copy.path()));
      }
    }
    if (backing == SealedCopy::Backing::TemporaryFile) {
      EXPECT_FALSE(fs::exists(fs::path(copyPath).parent_path()));
    }
  }
}

TEST(SealedCopy, EmptyFile) {
  TempDir dir;
  platform::FileDescriptor fd(::open(dir.write("empty", "").c_str(), O_RDONLY));
  SealedCopy copy(fd.get());
  EXPECT_EQ(0u, copy.size());
  EXPECT_NE(nullptr, copy.map()->data());
  EXPECT_EQ("", readFile(copy.path()));
}

}  // namespace
