// cvmodemline: virtual fax modems on pseudo-terminals, a simulated telephone
// line between them and a far-end fax machine, all in one process driven by a
// real-time 8 kHz audio clock.

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "shell/core/IniFile.h"
#include "tools/cvmodemline/Control.h"
#include "tools/cvmodemline/FarEnd.h"
#include "tools/cvmodemline/Fd.h"
#include "tools/cvmodemline/Line.h"
#include "tools/cvmodemline/Modem.h"

namespace {

const char* const kUsage =
    "Usage: cvmodemline --dir DIR [options]\n"
    "\n"
    "Creates virtual fax modems (Class 1, 2 and 2.0) on pseudo-terminals linked\n"
    "at DIR/com1, DIR/com2, ..., a simulated telephone line between them, and a\n"
    "far-end fax machine that answers, stores what it receives and can send.\n"
    "\n"
    "Options:\n"
    "  --dir DIR            folder for the modem links and the control socket (required)\n"
    "  --modems N           number of modems, 1 to 8 (default 2)\n"
    "  --first-number NUM   phone number of com1; com2 gets the next (default 101)\n"
    "  --farend NUM         phone number of the far-end fax machine (default 200)\n"
    "  --farend-id ID       station ID of the far end (default \"+1 555 0200\")\n"
    "  --farend-rings N     rings before the far end answers (default 1)\n"
    "  --received DIR       where the far end stores faxes (default DIR/received)\n"
    "  --ini FILE           write the [Ports] lines into this settings file (CV.INI)\n"
    "  --attenuation DB     line loss in dB (default 0)\n"
    "  --noise DBM0         white noise level in dBm0 (default off)\n"
    "  --snr DB             noise following the signal, this many dB below it (default off)\n"
    "  --echo DB            echo level relative to the talker in dB (default off)\n"
    "  --echo-delay MS      echo delay (default 20)\n"
    "  --delay MS           one-way transmission delay of the line (default 40)\n"
    "  --voice NUM          a number answered by a person (dialling it gives VOICE)\n"
    "  --busy NUM           a number that is always busy\n"
    "  --control COMMAND    send one command to the running line on DIR and print\n"
    "                       its answer (exit status 0 for OK)\n"
    "  --help               this text\n"
    "\n"
    "Environment: CVMODEMLINE_DEBUG=1 traces the modems' T.31 control and the\n"
    "Class 2 procedure on stderr; CVMODEMLINE_SPANDSP_LOG=1 adds spandsp's own logs.\n"
    "\n"
    "Control socket DIR/control takes one command per line:\n";

struct TOptions {
  std::string dir;
  int modems = 2;
  long firstNumber = 101;
  std::string farend = "200";
  std::string farendId = "+1 555 0200";
  int farendRings = 1;
  std::string received;
  std::string ini;
  TImpairments imp;
  std::vector<std::string> voice, busy;
  std::string control;  // client mode: one command for a running line
};

bool ParseArgs(int argc, char** argv, TOptions& o, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        error = a + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    auto number = [&](double& out) {
      std::string v;
      if (!value(v)) return false;
      try {
        size_t used = 0;
        out = std::stod(v, &used);
        if (used != v.size()) throw std::invalid_argument(v);
      } catch (const std::exception&) {
        error = a + ": not a number: " + v;
        return false;
      }
      return true;
    };
    std::string s;
    double d = 0;
    if (a == "--dir") {
      if (!value(o.dir)) return false;
    } else if (a == "--modems") {
      if (!number(d)) return false;
      o.modems = static_cast<int>(d);
      if (o.modems < 1 || o.modems > 8) {
        error = "--modems must be 1 to 8";
        return false;
      }
    } else if (a == "--first-number") {
      if (!number(d)) return false;
      o.firstNumber = static_cast<long>(d);
    } else if (a == "--farend") {
      if (!value(o.farend)) return false;
    } else if (a == "--farend-id") {
      if (!value(o.farendId)) return false;
    } else if (a == "--farend-rings") {
      if (!number(d)) return false;
      o.farendRings = static_cast<int>(d);
    } else if (a == "--received") {
      if (!value(o.received)) return false;
    } else if (a == "--ini") {
      if (!value(o.ini)) return false;
    } else if (a == "--attenuation") {
      if (!number(o.imp.attenuationDb)) return false;
    } else if (a == "--noise") {
      if (!number(o.imp.noiseDbm0)) return false;
    } else if (a == "--snr") {
      if (!number(o.imp.snrDb)) return false;
    } else if (a == "--echo") {
      if (!number(o.imp.echoDb)) return false;
    } else if (a == "--echo-delay") {
      if (!number(d)) return false;
      o.imp.echoDelayMs = static_cast<int>(d);
    } else if (a == "--delay") {
      if (!number(d)) return false;
      o.imp.delayMs = static_cast<int>(d);
    } else if (a == "--control") {
      if (!value(o.control)) return false;
    } else if (a == "--voice") {
      if (!value(s)) return false;
      o.voice.push_back(s);
    } else if (a == "--busy") {
      if (!value(s)) return false;
      o.busy.push_back(s);
    } else {
      error = "unknown option " + a;
      return false;
    }
  }
  if (o.dir.empty()) {
    error = "--dir is required";
    return false;
  }
  return true;
}

class TModemLine {
 public:
  explicit TModemLine(const TOptions& o) : opt_(o) {
    std::filesystem::create_directories(opt_.dir);
    opt_.dir = std::filesystem::absolute(opt_.dir).lexically_normal().string();
    if (opt_.received.empty()) opt_.received = opt_.dir + "/received";
    line_.SetImpairments(opt_.imp);
    for (const auto& n : opt_.voice) line_.Faults(n).voice = true;
    for (const auto& n : opt_.busy) line_.Faults(n).busy = true;
    for (int i = 0; i < opt_.modems; ++i) {
      std::string name = "com" + std::to_string(i + 1);
      modems_.push_back(std::make_unique<TVirtualModem>(line_, name, std::to_string(opt_.firstNumber + i),
                                                        opt_.dir + "/" + name));
    }
    farEnd_ = std::make_unique<TFarEndFax>(line_, opt_.farend, opt_.received, opt_.farendId);
    farEnd_->SetAnswerRings(opt_.farendRings);
    control_ = std::make_unique<TControlServer>(opt_.dir + "/control",
                                                [this](const TControlCommand& c) { return Handle(c); });
  }

  void Announce() {
    std::ostringstream ports;
    ports << "[Ports]\n";
    for (size_t i = 0; i < modems_.size(); ++i) ports << "COM" << i + 1 << "=" << modems_[i]->LinkPath() << "\n";
    std::cout << ports.str();
    for (const auto& m : modems_) std::cout << "# " << m->Name() << " has number " << m->Number() << "\n";
    std::cout << "# far-end fax machine: dial " << opt_.farend << " (received faxes go to " << opt_.received
              << ")\n# control socket: " << control_->Path() << "\n";
    std::cout.flush();
    if (!opt_.ini.empty()) {
      TIniFile ini(opt_.ini);
      for (size_t i = 0; i < modems_.size(); ++i)
        ini.WriteString("Ports", "COM" + std::to_string(i + 1), modems_[i]->LinkPath());
      if (!ini.UpdateFile()) std::cerr << "cvmodemline: cannot write " << opt_.ini << "\n";
    }
  }

  int Run(const sigset_t& mask) {
    TFd sig(signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK));
    TFd timer(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
    itimerspec its{};
    its.it_interval.tv_nsec = 1'000'000'000L / kTicksPerSecond;
    its.it_value = its.it_interval;
    timerfd_settime(timer.Get(), 0, &its, nullptr);

    while (!quit_) {
      std::vector<pollfd> fds;
      fds.push_back({sig.Get(), POLLIN, 0});
      fds.push_back({timer.Get(), POLLIN, 0});
      for (const auto& m : modems_) {
        short ev = 0;
        if (m->WantRead()) ev |= POLLIN;
        if (m->WantWrite()) ev |= POLLOUT;
        fds.push_back({m->Fd(), ev, 0});
      }
      const size_t controlStart = fds.size();
      for (int fd : control_->Fds()) fds.push_back({fd, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), -1) < 0) {
        if (errno == EINTR) continue;
        std::perror("poll");
        return 1;
      }
      if (fds[0].revents & POLLIN) break;
      if (fds[1].revents & POLLIN) {
        uint64_t expirations = 0;
        if (::read(timer.Get(), &expirations, sizeof expirations) == sizeof expirations) {
          // After a stall, catch up a little but do not spiral.
          for (uint64_t k = 0; k < std::min<uint64_t>(expirations, 5); ++k) Tick();
        }
      }
      for (size_t i = 0; i < modems_.size(); ++i) {
        const short re = fds[2 + i].revents;
        if (re & POLLOUT) modems_[i]->OnWritable();
        if (re & POLLIN) modems_[i]->OnReadable();
      }
      for (size_t i = controlStart; i < fds.size(); ++i)
        if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) control_->OnReadable(fds[i].fd);
    }
    return 0;
  }

 private:
  void Tick() {
    line_.Tick();
    for (auto& m : modems_) m->Tick();
    farEnd_->Tick();
  }

  std::string Handle(const TControlCommand& c) {
    switch (c.verb) {
      case TControlVerb::Help:
        return std::string("OK ") + kControlHelp;
      case TControlVerb::Status: {
        std::string s = line_.Status();
        for (const auto& m : modems_) s += m->Name() + " transmitted " + m->DataRecord().Text() + "\n";
        if (farEnd_) s += "farend negotiation-us=" + std::to_string(farEnd_->NegotiationUs()) + "\n";
        for (auto& ch : s)
          if (ch == '\n') ch = ';';
        return "OK " + s;
      }
      case TControlVerb::Quit:
        quit_ = true;
        return "OK";
      case TControlVerb::Busy:
        line_.Faults(c.number).busy = c.on;
        return "OK";
      case TControlVerb::Voice:
        line_.Faults(c.number).voice = c.on;
        return "OK";
      case TControlVerb::Refuse:
        line_.Faults(c.number).refuse = c.on;
        return "OK";
      case TControlVerb::NoDialtone:
        line_.Faults(c.number).noDialtone = c.on;
        return "OK";
      case TControlVerb::Unplug:
        line_.Faults(c.number).unplugged = c.on;
        return "OK";
      case TControlVerb::Hangup:
        return line_.DropCall(c.number, c.delayMs) ? "OK" : "ERROR " + c.number + " is in no call";
      case TControlVerb::Impair: {
        TImpairments imp = c.impairOff ? TImpairments{} : line_.Impairments();
        if (c.attenuationDb) imp.attenuationDb = *c.attenuationDb;
        if (c.noiseDbm0) imp.noiseDbm0 = *c.noiseDbm0;
        if (c.echoDb) imp.echoDb = *c.echoDb;
        if (c.snrDb) imp.snrDb = *c.snrDb;
        if (c.echoDelayMs) imp.echoDelayMs = *c.echoDelayMs;
        if (c.lineDelayMs) imp.delayMs = *c.lineDelayMs;
        line_.SetImpairments(imp);
        return "OK";
      }
      case TControlVerb::Send: {
        std::string why;
        return farEnd_->Send(c.number, c.file, why) ? "OK" : "ERROR " + why;
      }
    }
    return "ERROR";
  }

  TOptions opt_;
  TLine line_;
  std::vector<std::unique_ptr<TVirtualModem>> modems_;
  std::unique_ptr<TFarEndFax> farEnd_;
  std::unique_ptr<TControlServer> control_;
  bool quit_ = false;
};

}  // namespace

// Client mode: hands one command to the line running on `dir`.
int SendControl(const std::string& dir, const std::string& command) {
  TFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string path = dir + "/control";
  if (!fd.Valid() || path.size() >= sizeof addr.sun_path) return 2;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::cerr << "cvmodemline: no line running on " << dir << " (" << std::strerror(errno) << ")\n";
    return 2;
  }
  const std::string line = command + "\n";
  if (::write(fd.Get(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) return 2;
  std::string reply;
  char buf[512];
  ssize_t n;
  while (reply.find('\n') == std::string::npos && (n = ::read(fd.Get(), buf, sizeof buf)) > 0)
    reply.append(buf, static_cast<size_t>(n));
  std::cout << reply;
  return reply.rfind("OK", 0) == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kUsage << "  " << kControlHelp << "\n";
      return 0;
    }
  }
  TOptions opt;
  std::string error;
  if (!ParseArgs(argc, argv, opt, error)) {
    std::cerr << "cvmodemline: " << error << "\n(see cvmodemline --help)\n";
    return 2;
  }
  if (!opt.control.empty()) return SendControl(opt.dir, opt.control);
  // Termination signals wait for the event loop from the start, so a
  // SIGTERM during set-up still ends in a clean shutdown.
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGHUP);
  sigprocmask(SIG_BLOCK, &mask, nullptr);
  signal(SIGPIPE, SIG_IGN);
  try {
    TModemLine app(opt);
    app.Announce();
    return app.Run(mask);
  } catch (const std::exception& e) {
    std::cerr << "cvmodemline: " << e.what() << "\n";
    return 1;
  }
}
