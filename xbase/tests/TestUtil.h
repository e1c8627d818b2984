#pragma once
// Shared helpers of the engine tests: a fresh folder per test and small
// builders for tables.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

#include "xbase/Dbf.h"
#include "xbase/Table.h"

class TempDir {
 public:
  TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("cvxb-") + (info ? info->test_suite_name() + std::string("-") + info->name() : "x");
    for (char& c : name)
      if (c == '/') c = '_';
    path_ = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& n) const { return path_ / n; }

 private:
  std::filesystem::path path_;
};

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
