#pragma once
// Leaves a job (NAME.APF and its description NAME.ZRD) in the folder the
// intake watches, so that the intake never sees half a job and nothing placed
// in the folder beforehand can redirect a write: the folder is opened once
// without following a link, every file is made new inside it (never
// following a link, never reusing an existing file) under a temporary name
// and only renamed to its job name, image first, when complete.

#include <string>

class TJobFolder {
 public:
  // Opens an absolute folder path (its last part must not be a link). A path
  // with a ".." part is refused.
  explicit TJobFolder(const std::string& path);
  TJobFolder(const TJobFolder&) = delete;
  TJobFolder& operator=(const TJobFolder&) = delete;
  ~TJobFolder();

  bool IsOpen() const { return fd_ >= 0; }
  // Why the folder could not be opened or the last job not written.
  const std::string& Error() const { return error_; }

  // Copies the image from imageFd (read to its end) and writes the
  // description; returns the job's name (e.g. "PD00003") or an empty text
  // with Error() set, in which case nothing of the job remains.
  std::string Deliver(int imageFd, const std::string& description);

 private:
  int fd_ = -1;
  std::string error_;
};
