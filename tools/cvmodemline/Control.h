#pragma once
// The control interface: a Unix stream socket taking one command per line
// and answering each with one line starting "OK" or "ERROR". Tests use it to
// script faults and far-end calls.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/cvmodemline/Fd.h"

enum class TControlVerb { Help, Status, Busy, Voice, Refuse, NoDialtone, Unplug, Hangup, Impair, Send, Quit };

struct TControlCommand {
  TControlVerb verb = TControlVerb::Help;
  std::string number;           // Busy..Hangup, Send
  bool on = true;               // Busy, Voice, Refuse, NoDialtone, Unplug
  int delayMs = 0;              // Hangup
  std::string file;             // Send
  // Impair: each present value replaces the current one; "off" clears all.
  bool impairOff = false;
  std::optional<double> attenuationDb, noiseDbm0, snrDb, echoDb;
  std::optional<int> echoDelayMs, lineDelayMs;
};

// Parses one control line; nullopt with `error` set when it is not valid.
std::optional<TControlCommand> ParseControl(std::string_view line, std::string& error);
extern const char* const kControlHelp;

class TControlServer {
 public:
  using THandler = std::function<std::string(const TControlCommand&)>;
  TControlServer(std::string path, THandler handler);
  ~TControlServer();
  TControlServer(const TControlServer&) = delete;
  TControlServer& operator=(const TControlServer&) = delete;

  const std::string& Path() const { return path_; }
  // Descriptors to poll for input: the listening socket first.
  std::vector<int> Fds() const;
  void OnReadable(int fd);

 private:
  struct TClient {
    TFd fd;
    std::string in;
  };
  std::string path_;
  THandler handler_;
  TFd listen_;
  std::vector<TClient> clients_;
};
