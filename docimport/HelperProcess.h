#pragma once
// Runs a helper program (Ghostscript) with a time limit. The child gets its
// own process group, no input, and its error output in a file; on timeout or
// cancel the whole group is killed, so a PostScript file that loops forever
// costs no more than the limit.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

struct FxHelperOutcome {
  bool started = false;
  bool timedOut = false;
  bool cancelled = false;
  int exitStatus = -1;  // exit code when it ended normally
  std::string errorText;  // the end of what it wrote to its error output
};

// Runs argv (argv[0] is looked up on PATH). keepGoing is asked about every
// 50 ms; returning false kills the child.
FxHelperOutcome FxRunHelper(const std::vector<std::string>& argv, std::chrono::milliseconds timeLimit,
                            const std::function<bool()>& keepGoing);

// As FxRunHelper, but the child's standard output comes through a pipe to
// output as it arrives (false stops and kills the child). The time limit is
// on silence: it starts again whenever output arrives, so a long document
// that keeps producing pages is not cut off.
using FxHelperOutput = std::function<bool(const uint8_t* data, size_t size)>;
FxHelperOutcome FxRunHelperReading(const std::vector<std::string>& argv, std::chrono::milliseconds silenceLimit,
                                   const std::function<bool()>& keepGoing, const FxHelperOutput& output);
