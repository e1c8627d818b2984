#pragma once
// Shared helpers of the engine tests: small builders for tables, and the
// test folder.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "xbase/Dbf.h"
#include "xbase/Table.h"
#include "testsupport/TempFolder.h"

inline std::vector<TDbfField> OutgoingLikeFields() {
  return {{"SUBJECT", 'C', 50, 0, 0}, {"DATESENT", 'D', 8, 0, 0}, {"TIMESENT", 'C', 5, 0, 0},
          {"PAGES", 'N', 4, 0, 0},    {"COST", 'N', 8, 2, 0},     {"ARCHIVED", 'L', 1, 0, 0}};
}

#define XB_ASSERT_OK(expr)                          \
  do {                                              \
    const XbStatus st_ = (expr);                    \
    ASSERT_TRUE(st_.ok()) << st_.Message();         \
  } while (0)
#define XB_EXPECT_OK(expr)                          \
  do {                                              \
    const XbStatus st_ = (expr);                    \
    EXPECT_TRUE(st_.ok()) << st_.Message();         \
  } while (0)
