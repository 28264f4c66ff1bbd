// Module resources: named raw-data resources and version numbers of
// executable modules.
#pragma once

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

  COsResourceImpl* m_posresourceimpl = nullptr;
};
