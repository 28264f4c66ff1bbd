// Module resources: named raw-data resources and version numbers of
// executable modules, the list of a module's resource names, and named data
// blocks written into files, as resources or in a trailer behind the file's
// own bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os_sts.h"

class COsResourceImpl;

// The module argument: this text selects the module that holds the library
// itself; null selects the process's executable; any other text is a file
// path (UTF-8).
constexpr char OS_RESOURCE_LOCAL[] = "OsResourceGetLocal";
constexpr int OS_RESOURCE_TYPE_RCDATA = 1;

class COsResource {
 public:
  COsResource();
  ~COsResource();
  COsResource(const COsResource&) = delete;
  COsResource& operator=(const COsResource&) = delete;

  // Loads the raw-data resource a_szResourceName of the module. With a file
  // path as module and the name "VERSION", the data is the file version as
  // "%u.%u.%u.%u" (empty when the file has none). 0; 1 on failure (and when
  // the object already holds data); 3 for a null name.
  EOSSTS Load(const char* a_szModule, const char* a_szResourceName, int a_iType);
  // Forgets the data and frees a module this object loaded. 0.
  EOSSTS Close();
  // The loaded bytes (they belong to the module, or to this object for a
  // version text) and their number.
  const void* DataGet() const;
  std::uint32_t SizeGet() const;

  // Lists the module's raw-data resource names (in the system's order, each
  // cut to its first 64 characters, a number as "#n"; a list holds 4096
  // bytes of them) and copies the first into a_szName (a_sizetName bytes). A
  // path is loaded as a data file only, and freed again. 0; 6 when the
  // module has none; 2 when the name does not fit (it stays the next one);
  // 1 when the list or the module cannot be had; 3 for a null buffer.
  EOSSTS FindFirst(const char* a_szModule, char* a_szName, std::size_t a_sizetName);
  // The next name of the list: 0, 6 at its end, 2 as FindFirst; 1 before
  // any FindFirst.
  EOSSTS FindNext(char* a_szName, std::size_t a_sizetName);
  // Frees the name list. 0.
  EOSSTS FindClose();

  // Writes a_u32Size bytes as the block a_szResourceName of the file; no
  // bytes (null or a size of 0) remove the block.
  //
  // Resource mode: the raw-data resource of that name (its first 64
  // characters, neutral language) in an executable file, after the file's
  // signature certificates have been removed (the new resource would break
  // the signature anyway).
  //
  // Trailer mode: a slot of the file's resource trailer (names of at most 31
  // bytes, compared without ASCII case; 62 slots): the file's own bytes stay
  // as they are, the blocks and the trailer behind them are written anew. A
  // damaged trailer is refused and left alone, and a write that fails leaves
  // the file as it was (when the old bytes cannot be put back either, the
  // log says so).
  //
  // 0; 1 on any failure (also a type other than 1, and 62 names in use); 3
  // for a null file name or resource name, or an empty resource name.
  EOSSTS Update(const char* a_szFilename, const char* a_szResourceName, int a_iType, std::uint32_t a_u32Size,
                const void* a_pvBytes, bool a_bTrailerMode);

  COsResourceImpl* m_posresourceimpl = nullptr;
};
