// Stand-in for macOS <sys/proc.h>: the process states used.
#pragma once
#define SZOMB 5
