#include "driver/CommandLine.h"

#include <iostream>
#include <string>

int parseArgs(int argc, char** argv, RunSettings& settings) {
  if (argc == 1) {
    // Deliberately without line end or flush: it shows when the process exits.
    std::cout << "Arguments are required: -f ";
    return 1;
  }
  if (argc == 2) {
    settings.zipFilePath = argv[1];
    return 0;
  }

  for (int i = 1; i < argc; i += 2) {
    const char* flag = argv[i];
    if (flag[0] != '-') {
      std::cout << "Unexpected argument: " << flag << std::endl;
      return 1;
    }
    // Only the letter after the dash counts: -f, -fx and -file are the same.
    char letter = flag[1];
    bool hasValue = i + 1 < argc;
    if (letter == 'f' || letter == 's') {
      if (!hasValue) {
        std::cout << "few parameters for argument: " << flag << std::endl;
        return 1;
      }
      if (letter == 'f') {
        settings.zipFilePath = argv[i + 1];
      } else {
        settings.actionSet = std::stoi(argv[i + 1]);
      }
    } else {
      std::cout << "Invalid argument: " << flag << std::endl;
      return 1;
    }
  }
  return 0;
}
