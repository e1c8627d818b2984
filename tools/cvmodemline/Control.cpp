#include "tools/cvmodemline/Control.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

const char* const kControlHelp =
    "commands: status | busy NUMBER on|off | voice NUMBER on|off | refuse NUMBER on|off | "
    "nodialtone NUMBER on|off | unplug NUMBER on|off | hangup NUMBER [DELAY_MS] | "
    "impair off | impair [attenuation DB] [noise DBM0] [snr DB] [echo DB] [echo-delay MS] [delay MS] | "
    "send NUMBER FILE.tif | quit";

namespace {

constexpr size_t kMaxControlLine = 4096;
constexpr size_t kMaxControlClients = 16;

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> out;
  std::istringstream in{std::string(line)};
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

std::optional<double> Number(const std::string& s, double lo = -200, double hi = 200) {
  double v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || v < lo || v > hi) return std::nullopt;
  return v;
}

bool PhoneNumber(const std::string& s) {
  if (s.empty() || s.size() > 32) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || c == '*' || c == '#')) return false;
  return true;
}

}  // namespace

std::optional<TControlCommand> ParseControl(std::string_view line, std::string& error) {
  auto w = Words(line);
  TControlCommand c;
  if (w.empty()) {
    error = "empty command";
    return std::nullopt;
  }
  const std::string& verb = w[0];
  auto onOff = [&](TControlVerb v) -> std::optional<TControlCommand> {
    if (w.size() != 3 || !PhoneNumber(w[1]) || (w[2] != "on" && w[2] != "off")) {
      error = "usage: " + verb + " NUMBER on|off";
      return std::nullopt;
    }
    c.verb = v;
    c.number = w[1];
    c.on = w[2] == "on";
    return c;
  };
  if (verb == "help" && w.size() == 1) {
    c.verb = TControlVerb::Help;
    return c;
  }
  if (verb == "status" && w.size() == 1) {
    c.verb = TControlVerb::Status;
    return c;
  }
  if (verb == "quit" && w.size() == 1) {
    c.verb = TControlVerb::Quit;
    return c;
  }
  if (verb == "busy") return onOff(TControlVerb::Busy);
  if (verb == "voice") return onOff(TControlVerb::Voice);
  if (verb == "refuse") return onOff(TControlVerb::Refuse);
  if (verb == "nodialtone") return onOff(TControlVerb::NoDialtone);
  if (verb == "unplug") return onOff(TControlVerb::Unplug);
  if (verb == "hangup") {
    std::optional<double> d = w.size() == 3 ? Number(w[2], 0, 3600000) : std::optional<double>(0);
    if (w.size() < 2 || w.size() > 3 || !PhoneNumber(w[1]) || !d) {
      error = "usage: hangup NUMBER [DELAY_MS]";
      return std::nullopt;
    }
    c.verb = TControlVerb::Hangup;
    c.number = w[1];
    c.delayMs = static_cast<int>(*d);
    return c;
  }
  if (verb == "impair") {
    c.verb = TControlVerb::Impair;
    if (w.size() == 2 && w[1] == "off") {
      c.impairOff = true;
      return c;
    }
    if (w.size() < 3 || w.size() % 2 == 0) {
      error = "usage: impair off | impair [attenuation DB] [noise DBM0] [snr DB] [echo DB] [echo-delay MS] [delay MS]";
      return std::nullopt;
    }
    for (size_t i = 1; i + 1 < w.size(); i += 2) {
      auto v = Number(w[i + 1]);
      if (!v) {
        error = "not a number: " + w[i + 1];
        return std::nullopt;
      }
      if (w[i] == "attenuation") c.attenuationDb = *v;
      else if (w[i] == "noise") c.noiseDbm0 = *v;
      else if (w[i] == "echo") c.echoDb = *v;
      else if (w[i] == "snr") c.snrDb = *v;
      else if (w[i] == "echo-delay" && *v >= 0) c.echoDelayMs = static_cast<int>(*v);
      else if (w[i] == "delay" && *v >= 0) c.lineDelayMs = static_cast<int>(*v);  // 200 ms at most
      else {
        error = "unknown impairment: " + w[i];
        return std::nullopt;
      }
    }
    return c;
  }
  if (verb == "send") {
    if (w.size() != 3 || !PhoneNumber(w[1])) {
      error = "usage: send NUMBER FILE.tif";
      return std::nullopt;
    }
    c.verb = TControlVerb::Send;
    c.number = w[1];
    c.file = w[2];
    return c;
  }
  error = "unknown command: " + verb;
  return std::nullopt;
}

TControlServer::TControlServer(std::string path, THandler handler) : path_(std::move(path)), handler_(std::move(handler)) {
  sockaddr_un addr{};
  if (path_.size() >= sizeof addr.sun_path) throw std::runtime_error("control socket path too long: " + path_);
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) throw std::runtime_error(path_ + " exists and is not a socket");
    ::unlink(path_.c_str());  // left by a run that did not end cleanly
  }
  listen_ = TFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!listen_.Valid()) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
  if (::bind(listen_.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_.Get(), 8) != 0)
    throw std::runtime_error("cannot listen on " + path_ + ": " + std::strerror(errno));
}

TControlServer::~TControlServer() { ::unlink(path_.c_str()); }

std::vector<int> TControlServer::Fds() const {
  std::vector<int> fds{listen_.Get()};
  for (const auto& c : clients_) fds.push_back(c.fd.Get());
  return fds;
}

void TControlServer::OnReadable(int fd) {
  if (fd == listen_.Get()) {
    TFd c(::accept4(listen_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    // A handful of scripts at a time is plenty; more are turned away.
    if (c.Valid() && clients_.size() < kMaxControlClients) clients_.push_back(TClient{std::move(c), {}});
    return;
  }
  for (size_t i = 0; i < clients_.size(); ++i) {
    TClient& cl = clients_[i];
    if (cl.fd.Get() != fd) continue;
    char buf[512];
    ssize_t n = ::read(fd, buf, sizeof buf);
    bool drop = n <= 0;
    if (n > 0) cl.in.append(buf, static_cast<size_t>(n));
    size_t nl;
    while (!drop && (nl = cl.in.find('\n')) != std::string::npos) {
      std::string line = cl.in.substr(0, nl);
      cl.in.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::string error;
      auto cmd = ParseControl(line, error);
      std::string reply = cmd ? handler_(*cmd) : "ERROR " + error;
      reply += "\n";
      // Replies are short; a client that does not read them loses them.
      if (::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) drop = true;
    }
    if (cl.in.size() > kMaxControlLine) drop = true;
    if (drop) clients_.erase(clients_.begin() + static_cast<long>(i));
    return;
  }
}
