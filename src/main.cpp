// Entry point of the `updater` executable; everything else lives in the
// library so that tests can reach it.
#include "driver/Updater.h"

int main(int argc, char** argv) { return runUpdater(argc, argv); }
