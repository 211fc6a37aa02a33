// Stand-in for macOS <mach-o/dyld.h>: the executable-path call.
#pragma once
#include <stdint.h>
extern "C" int _NSGetExecutablePath(char* buf, uint32_t* bufsize);
