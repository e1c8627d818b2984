#pragma once
// A fax modem played on the master side of a pseudo-terminal, for what the
// virtual line cannot produce on demand: rejected pages, hostile frames,
// garbage or silence in place of replies. A script answers every command
// line the host sends; its answer also says what the modem takes next:
// more command lines, page data, HDLC frames, or a reception that the host
// ends with any character. Everything the host sent is kept in order.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/Pty.h"

class TScriptedModem {
 public:
  enum class TNext {
    Commands,  // command lines up to CR, each answered by the script
    Data,      // page data up to DLE ETX, then "OK"
    Frames,    // HDLC frames, each up to DLE ETX: "CONNECT" after each but the final one, "OK" after that
    Listen,    // a reception in progress: any character from the host ends it with "OK"
  };
  struct TAnswer {
    TAnswer(std::string t = {}, TNext n = TNext::Commands, std::chrono::milliseconds d = {})
        : text(std::move(t)), next(n), delay(d) {}
    TAnswer(const char* t) : TAnswer(std::string(t)) {}
    std::string text;                 // sent as it stands; empty sends nothing
    TNext next;                       // what the modem takes after the text
    std::chrono::milliseconds delay;  // the modem's think time before the text
  };
  // The script sees each command line without its CR, an empty line too.
  using TScript = std::function<TAnswer(const std::string& command)>;

  // One thing the host sent: a command line, a frame (address, control,
  // FCF, FIF; DLE shielding undone), or the DLE ETX that ended page data.
  enum class TKind { Command, Frame, DataEnd };
  struct TEntry {
    TKind kind = TKind::Command;
    std::string command;
    std::vector<uint8_t> frame;
  };

  TScriptedModem(TPty& pty, TScript script);
  ~TScriptedModem();
  TScriptedModem(const TScriptedModem&) = delete;
  TScriptedModem& operator=(const TScriptedModem&) = delete;

  // Page data taken slowly (8 KB a second), so that a long page is still on
  // its way seconds later; dataBytes counts it as it comes.
  std::atomic<bool> slowData{false};
  std::atomic<size_t> dataBytes{0};

  // Sends bytes the host did not ask for (RING, say).
  void Write(const std::string& bytes) { pty_.Write(bytes); }

  std::vector<TEntry> Log() const;
  std::vector<std::string> Commands() const;
  // Command lines and "DLE ETX" for each end of page data, in order.
  std::vector<std::string> Events() const;
  int Count(const std::string& command) const;
  std::vector<std::vector<uint8_t>> Frames() const;
  // The data of every data phase, DLE shielding undone.
  std::vector<std::vector<uint8_t>> Pages() const;

 private:
  void Run();
  void Take(uint8_t c);
  void Answer(const std::string& line);
  void Reply(const std::string& text) { pty_.Write(text); }

  TPty& pty_;
  TScript script_;
  // Touched by the modem's thread only.
  TNext mode_ = TNext::Commands;
  std::string line_;
  std::vector<uint8_t> frame_;
  bool dle_ = false;

  mutable std::mutex mutex_;
  std::vector<TEntry> log_;
  std::vector<std::vector<uint8_t>> pages_;

  std::atomic<bool> stop_{false};
  std::thread thread_;
};
