#pragma once
// A fresh folder for one test, removed with everything in it afterwards.
// Its name starts with the running test's name, so a folder left behind
// (CORVANE_KEEP_TEST_DIRS set) says whose it is; mkdtemp makes every
// instance unique, so tests run in parallel, or two folders in one test,
// never share one. The name is kept short because the line's control
// socket lives inside and socket paths are limited to 108 bytes.

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <unistd.h>

class TTempFolder {
 public:
  TTempFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "corvane";
    if (info != nullptr) name += std::string("-") + info->test_suite_name() + "-" + info->name();
    if (name.size() > kMaxNameChars) name.resize(kMaxNameChars);
    for (char& c : name)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
    std::string templ = (std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string();
    if (::mkdtemp(templ.data()) == nullptr)
      throw std::system_error(errno, std::generic_category(), "cannot make a folder like " + templ);
    path_ = templ;
  }
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;
  ~TTempFolder() {
    if (std::getenv("CORVANE_KEEP_TEST_DIRS") != nullptr) return;
    std::error_code ec;
    // Tests that take rights away from the folder must not leave it behind.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  static void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
  }
  static std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  static constexpr size_t kMaxNameChars = 48;
  std::filesystem::path path_;
};
