// Command line of the updater: "-f <package>" and "-s <set number>" pairs,
// or the package path alone.
//
// parseArgs fills a RunSettings and returns 0 when the run may continue, or
// 1 after it has printed why the command line is refused. A "-s" value that
// is not a number makes std::stoi throw (std::invalid_argument or
// std::out_of_range); the exception is not caught here.
#pragma once

#include <cstdint>

struct RunSettings {
  // The package path exactly as typed: points into argv, not a copy; null
  // while no path was given.
  const char* zipFilePath = nullptr;
  // The action set to perform; printed as unsigned, used as signed.
  std::int32_t actionSet = 0;
};

int parseArgs(int argc, char** argv, RunSettings& settings);
