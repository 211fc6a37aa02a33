// The selection of the file actions in-process: a link looping back into an
// opened directory must not make the expansion endless.
#include "actions/ActionTestSupport.h"
#include "actions/FilesActionInterface.h"

using namespace action_testing;

namespace {

// A file action that only selects.
class SelectionProbe final : public FilesActionInterface {
 public:
  explicit SelectionProbe(const rapidjson::Value& object) : FilesActionInterface(object) { _valid = _includeValid; }
  void perform() override {}
};

}  // namespace

TEST(FileSelection, LinkBackToAnOpenedDirectoryEndsTheExpansion) {
  TempDir dir;
  dir.write("top/sub/keep", "k");
  const fs::path other = dir.write("top/sub/other", "o");
  fs::create_directory_symlink(dir / "top", dir / "top/sub/loop");
  rapidjson::Document document =
      parseJson("{\"include\": " + json(dir / "top") + ", \"exclude\": " + json(dir / "top/sub/keep") + "}");
  SelectionProbe selection(document);
  CapturedOutput capture;
  selection.getResultFileList();
  // The loop leads into a directory whose entries are selected already.
  Pairs included;
  for (const std::string& name : listing(dir / "top/sub")) {
    if (name != "loop") included.emplace_back(dir / "top/sub" / name, "top/sub");
  }
  EXPECT_EQ(capture.text(), selectionLog(included, {dir / "top/sub/keep"}, {{other, "top/sub"}}));
}
