// The fixture of tests whose code allocates through the tracked memory
// manager without starting the whole services library: a manager of its
// own for every test.
#pragma once

#include "os_cosmem.h"
#include "os_test.h"

class OsTestWithMem : public OsTest {
 protected:
  void SetUp() override {
    OsTest::SetUp();
    m_posmem = OsMemCreate(OS_MEM_METHOD_MALLOC, true);
  }
  void TearDown() override {
    OsMemDestroy(m_posmem);
    OsTest::TearDown();
  }
  COsMem* m_posmem = nullptr;
};
