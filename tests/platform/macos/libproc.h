// Stand-in for macOS <libproc.h>: the calls the process table uses, with
// their macOS signatures, so that its source is type-checked on Linux.
#pragma once
#include <stdint.h>
#include <sys/proc_info.h>
extern "C" {
int proc_listpids(uint32_t type, uint32_t typeinfo, void* buffer, int buffersize);
int proc_pidinfo(int pid, int flavor, uint64_t arg, void* buffer, int buffersize);
}
