// Entry point of the `updater` executable; everything else lives in the
// library so that tests can reach it.
#include <iostream>

#include "driver/Updater.h"
#include "platform/Interrupt.h"

int main(int argc, char** argv) {
  // Only the executable turns SIGTERM, SIGINT and SIGHUP into failures of the
  // run; in-process callers keep their own handling of signals.
  try {
    platform::installInterruptHandlers();
  } catch (const std::exception& error) {
    std::cout << "Update failed: " << error.what() << std::endl;
    return 2;
  }
  return runUpdater(argc, argv);
}
