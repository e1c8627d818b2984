#pragma once
// A received fax written as an APF file, page by page.

#include <cstddef>
#include <cstdint>
#include <string>

// Line-buffered output of a received file with page completion and cut-back.
class TFxReceivedFile {
 public:
  ~TFxReceivedFile() { Close(); }
  int Create(const std::string& name, const std::string& stationId);
  bool IsOpen() const { return fd_ >= 0; }
  int StartPage(uint16_t flags);
  int Write(const uint8_t* data, size_t n);
  int CompletePage(const std::string& stationId);
  int CutBackPage();
  void Close();
  bool InPage() const { return inPage_; }

 private:
  int WriteAt(uint64_t at, const void* data, size_t n);
  int fd_ = -1;
  uint64_t pageStart_ = 0;
  uint64_t end_ = 0;
  uint16_t pages_ = 0;
  uint16_t pageFlags_ = 0;
  bool inPage_ = false;
};
