// The selection of the file actions in-process: how the lists are read, and
// a link looping back into an opened directory must not make the expansion
// endless.
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

// A bad list prints its line and selects nothing; an unbound alias ends the
// run, unless a bad item comes before it.
TEST(FileSelection, BadListsAndUnboundAliases) {
  struct Case {
    const char* json;
    const char* printed;  // null: throws
  };
  for (const Case& c : std::vector<Case>{
           {R"({"include":5,"exclude":["a",false]})",
            "Field include has invalid type\nField exclude array has invalid items type\n"},
           {R"({"include":[5,"@unbound"],"exclude":"a"})", "Field include array has invalid items type\n"},
           {R"({"include":["@unbound",5],"exclude":[]})", nullptr},
           {R"({"include":"@unbound","exclude":[]})", nullptr},
       }) {
    rapidjson::Document document = parseJson(c.json);
    CapturedOutput capture;
    if (c.printed == nullptr) {
      EXPECT_THROW(SelectionProbe{document}, std::runtime_error) << c.json;
      continue;
    }
    SelectionProbe probe(document);
    EXPECT_FALSE(probe.isValid()) << c.json;
    EXPECT_EQ(capture.text(), c.printed) << c.json;
  }
}
