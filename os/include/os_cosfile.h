// Files, paths and directory operations.
#pragma once

#include "os_sts.h"

// Entry types of the directory operations.
enum EOSFILETYPE : int {
  OS_FILE_TYPE_NONE = 0,       // not found
  OS_FILE_TYPE_DIRECTORY = 1,
  OS_FILE_TYPE_FILE = 2,
  OS_FILE_TYPE_SYSTEM = 3,     // an entry with the system attribute: never deleted
};

// Deletes a file or a directory (a_bRecursive: with everything below it).
// a_eosfiletype 0 takes whatever is there; otherwise the entry must be of that
// type (status 1). Read-only entries are deleted; a system entry stops the
// delete with 1. A directory link met inside the tree is removed itself, its
// target is never entered. Wildcards are refused with 3.
EOSSTS OsFileDelete(const char* a_szFilename, EOSFILETYPE a_eosfiletype, bool a_bRecursive);
