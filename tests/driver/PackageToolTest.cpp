// The example package maker: a folder becomes an archive with directory
// entries, deflate file entries and the files' Unix modes, which the updater
// reads back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"
#include "zip/ZipArchive.h"
#include "zip/ZipFile.h"

namespace fs = std::filesystem;
namespace ts = testing_support;

namespace {
const std::string kTool = UPDATER_BINARY_DIR "/examples/mkpackage";
}

TEST(PackageTool, PacksTheFolderWithModes) {
  ts::TempDir dir;
  fs::path root = dir.mkdir("pkg"), zip = dir / "out.zip";
  dir.write("pkg/manifest.json", "{\"actions\": []}");
  dir.write("pkg/bin/tool", "#!/bin/sh\necho tool\n");
  dir.write("pkg/share/data.txt", std::string(100000, 'd'));
  dir.mkdir("pkg/empty");
  fs::permissions(root / "bin" / "tool", fs::perms(0750));
  fs::permissions(root / "share", fs::perms(0700));
  ts::RunResult made = ts::run(kTool, {zip.string(), root.string()});
  ASSERT_EQ(made.status, 0) << made.err;

  auto archive = ZipFile::Open(zip.string());
  std::vector<std::string> names;
  for (size_t i = 0; i < archive->GetEntriesCount(); ++i)
    names.push_back(archive->GetEntry(static_cast<int>(i))->GetFullName());
  EXPECT_EQ(names,
            (std::vector<std::string>{"bin/", "bin/tool", "empty/", "manifest.json", "share/", "share/data.txt"}));
  auto tool = archive->GetEntry("bin/tool");
  auto share = archive->GetEntry("share/");
  ASSERT_TRUE(tool && share);
  struct stat info {};
  ASSERT_EQ(::stat((root / "bin" / "tool").c_str(), &info), 0);
  EXPECT_EQ(tool->GetCompressionMethod(), 8);
  EXPECT_EQ(tool->GetAttributes() >> 16, info.st_mode);
  EXPECT_TRUE(share->IsDirectory());
  EXPECT_EQ((share->GetAttributes() >> 16) & 07777, 0700u);
  // An independent reader agrees on the content.
  EXPECT_EQ(ts::run("/usr/bin/unzip", {"-t", zip.string()}).status, 0);
}
