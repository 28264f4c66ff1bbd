// The process-wide profile cache: section-and-key text files read, changed
// in memory and written back on request. Private to the library.
#pragma once

#include <cstddef>

#include "os_sts.h"

class COsCfgImpl;

// The value of a_szKey in section a_szSection of a_szFile into a_szOut
// (a_sizetOut bytes): 0, or 1 with an empty output. A key "@n" takes the
// n-th line after the section header.
EOSSTS OsCfgProfileRead(const char* a_szFile, const char* a_szSection, const char* a_szKey, char* a_szOut,
                        std::size_t a_sizetOut);
// Sets or adds the key in the cached image (written back by the flush): 0 or 1.
EOSSTS OsCfgProfileWrite(const char* a_szFile, const char* a_szSection, const char* a_szKey, const char* a_szValue);
// Removes the key's line from the cached image; a missing section or key is not an error.
EOSSTS OsCfgProfileDelete(const char* a_szFile, const char* a_szSection, const char* a_szKey);
// Writes a changed cached image back to its file: 0 or 1.
EOSSTS OsCfgProfileFlush(const char* a_szFile);
// Frees every slot without writing it back (the configuration's destruction).
void OsCfgProfileFreeAll();

// Loads the shared configuration file (m_szSharedConfigFilename) into the
// items: 0, 257 when the file does not exist, 1 when it cannot be read.
EOSSTS OsCfgLoadSharedFile(COsCfgImpl* a_poscfgimpl);
