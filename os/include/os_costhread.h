// Threads and processes.
#pragma once

// The integrity class of the running process, found once and cached:
// 1 below medium in the browser's protected mode, 2 below medium (also when
// the token cannot be read), 3 medium in protected mode, 4 medium, 5 high or
// system in protected mode, 6 high or system.
int OsProcessIntegrityGet();
