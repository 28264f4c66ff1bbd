// Status codes returned by every operation of the services library.
#pragma once

enum EOSSTS : int {
  OS_STS_SUCCESS = 0,         // success
  OS_STS_FAIL = 1,            // failure in general (system call, format, lookup, parse)
  OS_STS_TOOSMALL = 2,        // the caller's buffer or a fixed table cannot hold the value
  OS_STS_BADARG = 3,          // null pointer, empty name, size of 1 or less, out of range
  OS_STS_BUSY = 4,            // a spin lock or file region is already held
  OS_STS_TIMEOUT = 5,         // a wait ran out
  OS_STS_NOMORE = 6,          // end of an enumeration or of a sibling or child search
  OS_STS_LOCKED = 9,          // a mapped item's file is locked
  OS_STS_NOTLOCKED = 10,      // a mapped item's file is not locked
  OS_STS_ABANDONED = 13,      // a watched process ended or a mutex was abandoned
  OS_STS_NOTFOUND = 257,      // file, path or named object not found
  OS_STS_ACCESSDENIED = 258,  // access denied
  OS_STS_CANNOTCREATE = 259,  // the file cannot be created
  OS_STS_SHARING = 260,       // sharing violation
  OS_STS_EXISTS = 261,        // already exists; source and destination are the same
  OS_STS_NOTCREATED = 262,    // a creation status that has not run yet
};
