// The one full-path resolution of the library.
#pragma once

// Resolves a_wszPath to its absolute form into a_wszBuffer (a_ulLength
// units) while holding a process-wide lock: the system's full-path call
// depends on the process's current directory. Returns what the system
// returns: the length, the size needed when it does not fit, or 0.
unsigned long LockGetFullPathName(const wchar_t* a_wszPath, wchar_t* a_wszBuffer, unsigned long a_ulLength);
