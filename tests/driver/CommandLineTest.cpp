// The command-line parser, run in process with its output captured; the
// refused command lines are checked through the executable.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/CommandLine.h"
#include "driver/Updater.h"

namespace {

struct Parsed {
  int result = -1;
  RunSettings settings;
  std::string out;
  std::vector<std::string> args;  // keeps the texts settings point into
};

// Runs parseArgs on argv = {"updater", args...} and captures standard output.
Parsed parse(std::vector<std::string> args) {
  Parsed parsed;
  parsed.args = std::move(args);
  parsed.args.insert(parsed.args.begin(), "updater");
  std::vector<char*> argv;
  for (auto& a : parsed.args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::ostringstream captured;
  std::streambuf* original = std::cout.rdbuf(captured.rdbuf());
  try {
    parsed.result = parseArgs(static_cast<int>(parsed.args.size()), argv.data(), parsed.settings);
  } catch (...) {
    std::cout.rdbuf(original);
    throw;
  }
  std::cout.rdbuf(original);
  parsed.out = captured.str();
  return parsed;
}

std::string pathOf(const Parsed& parsed) {
  return parsed.settings.zipFilePath ? parsed.settings.zipFilePath : "<unset>";
}

}  // namespace

TEST(CommandLine, SingleArgumentIsThePackagePathWhateverItIs) {
  for (const char* arg : {"a.zip", "-f", "-s", "", "-x"}) {
    Parsed p = parse({arg});
    EXPECT_EQ(p.result, 0) << arg;
    EXPECT_EQ(pathOf(p), arg);
    EXPECT_EQ(p.settings.actionSet, 0);
    EXPECT_EQ(p.out, "");
  }
}

TEST(CommandLine, EmptyArgumentVectorLeavesEverythingUnset) {
  RunSettings settings;
  char* argv[] = {nullptr};
  EXPECT_EQ(parseArgs(0, argv, settings), 0);
  EXPECT_EQ(settings.zipFilePath, nullptr);
  EXPECT_EQ(settings.actionSet, 0);
}

TEST(CommandLine, RunWithoutAnyArgumentVectorAsksForThePackage) {
  char* argv[] = {nullptr};
  std::ostringstream captured;
  std::streambuf* original = std::cout.rdbuf(captured.rdbuf());
  int status = runUpdater(0, argv);
  std::cout.rdbuf(original);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(captured.str(), "Arguments are required: -f ");
}

TEST(CommandLine, PairsWithoutPackageFlagLeaveThePathUnset) {
  Parsed p = parse({"-s", "1"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.settings.zipFilePath, nullptr);
  EXPECT_EQ(p.settings.actionSet, 1);
  EXPECT_EQ(p.out, "");
}

TEST(CommandLine, FlagAndValuePairs) {
  Parsed p = parse({"-f", "pkg.zip", "-s", "3"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(pathOf(p), "pkg.zip");
  EXPECT_EQ(p.settings.actionSet, 3);

  p = parse({"-s", "2", "-f", "x.zip"});
  EXPECT_EQ(pathOf(p), "x.zip");
  EXPECT_EQ(p.settings.actionSet, 2);
}

TEST(CommandLine, OnlyTheLetterAfterTheDashCounts) {
  Parsed p = parse({"-fpackage.zip", "x.zip"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(pathOf(p), "x.zip");
  p = parse({"-file", "a.zip", "-set", "4"});
  EXPECT_EQ(pathOf(p), "a.zip");
  EXPECT_EQ(p.settings.actionSet, 4);
}

TEST(CommandLine, SetNumberFollowsStoi) {
  EXPECT_EQ(parse({"-f", "a", "-s", "2x"}).settings.actionSet, 2);
  EXPECT_EQ(parse({"-f", "a", "-s", "  +7"}).settings.actionSet, 7);
  EXPECT_EQ(parse({"-f", "a", "-s", "-1"}).settings.actionSet, -1);
  EXPECT_THROW(parse({"-f", "a", "-s", "abc"}), std::invalid_argument);
  EXPECT_THROW(parse({"-f", "a", "-s", "99999999999"}), std::out_of_range);
}

TEST(CommandLine, LaterFlagWins) {
  Parsed p = parse({"-f", "first.zip", "-s", "1", "-f", "second.zip", "-s", "5"});
  EXPECT_EQ(pathOf(p), "second.zip");
  EXPECT_EQ(p.settings.actionSet, 5);
}

TEST(CommandLine, PathPointsIntoTheArgumentVector) {
  Parsed p = parse({"-f", "pkg.zip"});
  EXPECT_EQ(p.settings.zipFilePath, p.args[2].c_str());
}

TEST(CommandLine, ChecksRunInArgumentOrder) {
  // The bad flag comes before the value that would not convert.
  Parsed p = parse({"-x", "1", "-s", "abc"});
  EXPECT_EQ(p.result, 1);
  EXPECT_EQ(p.out, "Invalid argument: -x\n");
}
