// The command line, accepted and refused forms, through the driver.
#include <string>
#include <vector>

#include "actions/ActionTestSupport.h"

using namespace action_testing;

TEST(CommandLine, NoArgumentVectorAtAllAsksForThePackage) {
  char* argv[] = {nullptr};
  int status = -1;
  EXPECT_EQ(outputOf([&] { status = runUpdater(0, argv); }), "Arguments are required: -f ");
  EXPECT_EQ(status, 1);
}

TEST(CommandLine, AcceptedAndRefusedForms) {
  TempDir dir;
  for (const char* name : {"update.zip", "-f", "a", "second.zip"})
    makeManifestPackage(dir / name, R"({"actions": [[]]})");
  // A set number that does not convert, or a package that cannot be found,
  // ends the run with the library's message.
  auto failed = [](auto call) { return "Update failed: " + outputAndError(call).error + "\n"; };
  struct Case {
    std::vector<std::string> args;
    std::string out;
    int status;
  };
  for (const Case& c : std::vector<Case>{
           // A single argument is the package path whatever it is.
           {{"-f"}, header("-f"), 0},
           // Only the letter after the dash counts; the last pair wins.
           {{"-file", "first.zip", "-set", "4", "-f", "second.zip"},
            header("second.zip", "4") + "Invalid set number\n",
            0},
           // Converted as by std::stoi: blanks, a sign, digits up to the first other character.
           {{"-f", "a", "-s", "  +7x"}, header("a", "7") + "Invalid set number\n", 0},
           {{}, "Arguments are required: -f ", 1},
           {{"-f", "update.zip", "-s"}, "few parameters for argument: -s\n", 1},
           {{"-f", "update.zip", "-x", "1"}, "Invalid argument: -x\n", 1},
           {{"-f", "update.zip", "1"}, "Unexpected argument: 1\n", 1},
           {{"", "a.zip"}, "Unexpected argument: \n", 1},
           // The checks run in argument order: the bad flag before the bad number.
           {{"-x", "1", "-s", "abc"}, "Invalid argument: -x\n", 1},
           {{"-s", "1"}, "Arguments are required: -f ", 1},
           {{"-f", "update.zip", "-s", "abc"}, failed([] { (void)std::stoi("abc"); }), 2},
           {{"-f", "missing.zip"}, header("missing.zip") + failed([] { (void)fs::canonical("missing.zip"); }), 2},
           // Printed unsigned, then out of range.
           {{"-f", "update.zip", "-s", "-1"}, header("update.zip", "4294967295") + "Invalid set number\n", 0},
       }) {
    RunResult r = runHere(dir.path(), c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, c.status) << c.out;
  }
}
