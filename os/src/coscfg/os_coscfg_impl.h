// The configuration's implementation block.
#pragma once

#include "os_coscfg.h"

constexpr int OS_CFG_SECTIONS = 5;
constexpr int OS_CFG_TAGS = 271;

class COsCfgImpl {
 public:
  // The item store: row 0 and column 0 hold nothing; null means empty.
  // An item points at text that lives as long as the configuration.
  const char* m_aaszItem[OS_CFG_SECTIONS + 1][OS_CFG_TAGS + 1] = {};
};
