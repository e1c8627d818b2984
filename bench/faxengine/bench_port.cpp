// Serial port dispatcher over a pseudo-terminal:
//  - latency from a byte written at the far end to the data-trigger handler;
//  - 1 MB each way through the port, against a plain blocking read/write
//    loop on the same pseudo-terminal (the baseline);
//  - CPU used by an open idle port over 10 seconds.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "faxengine/port/ComPort.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kMegabyte = 1 << 20;

struct TBenchPty {
  int master = -1;
  int slave = -1;  // kept open so the master never sees a hang-up
  std::string path;
  TBenchPty() {
    char name[256] = {};
    ::openpty(&master, &slave, name, nullptr, nullptr);
    path = name;
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
  }
  ~TBenchPty() {
    ::close(master);
    ::close(slave);
  }
};

TBenchPty& Pty() {
  static TBenchPty pty;
  return pty;
}

void WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w > 0) {
      p += w;
      n -= static_cast<size_t>(w);
    } else {
      pollfd f{fd, POLLOUT, 0};
      ::poll(&f, 1, 100);
    }
  }
}

void ReadAll(int fd, size_t n) {
  std::vector<uint8_t> buf(16384);
  while (n > 0) {
    const ssize_t r = ::read(fd, buf.data(), std::min(buf.size(), n));
    if (r > 0) {
      n -= static_cast<size_t>(r);
    } else {
      pollfd f{fd, POLLIN, 0};
      ::poll(&f, 1, 100);
    }
  }
}

struct TOpenPort {
  TFxComPort port;
  explicit TOpenPort(uint16_t outSize = 8192) {
    SetLockFolder(std::filesystem::temp_directory_path());
    port.SetDeviceName(Pty().path);
    port.SetOutSize(outSize);
    port.SetOpen(true);
  }
};

void BM_DataTriggerLatency(benchmark::State& state) {
  TOpenPort open;
  auto* d = open.port.Dispatcher();
  const int trigger = d->AddDataTrigger("X", false);
  std::mutex m;
  std::condition_variable cv;
  bool arrived = false;
  Clock::time_point handled;
  d->AddMethodHandler([&](uint16_t msg, uint16_t w, uint32_t) {
    if (msg != static_cast<uint16_t>(TTriggerMsg::tmData) || w != trigger) return;
    uint8_t c;
    d->ReadChar(c);
    std::lock_guard l(m);
    handled = Clock::now();
    arrived = true;
    cv.notify_all();
  });
  std::vector<double> micros;
  const uint8_t x = 'X';
  for (auto _ : state) {
    std::unique_lock l(m);
    arrived = false;
    const auto start = Clock::now();
    WriteAll(Pty().master, &x, 1);
    cv.wait(l, [&] { return arrived; });
    micros.push_back(std::chrono::duration<double, std::micro>(handled - start).count());
  }
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}
BENCHMARK(BM_DataTriggerLatency)->Iterations(2000)->Unit(benchmark::kMicrosecond);

// 1 MB from the port to the far end.
void BM_PortSend1MB(benchmark::State& state) {
  TOpenPort open;
  auto* d = open.port.Dispatcher();
  // Paced as a fax session paces page data: refill when an output-free
  // status trigger says half the ring is free.
  const int freeTrigger = d->NewStatusTrigger(static_cast<unsigned>(TStatusKind::skOutBuffFree));
  std::mutex m;
  std::condition_variable cv;
  bool roomy = false;
  d->AddMethodHandler([&](uint16_t msg, uint16_t w, uint32_t) {
    if (msg != static_cast<uint16_t>(TTriggerMsg::tmStatus) || w != freeTrigger) return;
    std::lock_guard l(m);
    roomy = true;
    cv.notify_all();
  });
  std::vector<uint8_t> data(kMegabyte, 0x55);
  for (auto _ : state) {
    std::thread reader([&] { ReadAll(Pty().master, kMegabyte); });
    size_t sent = 0;
    while (sent < kMegabyte) {
      const size_t n = std::min(open.port.OutputFree(), kMegabyte - sent);
      if (n == 0) {
        std::unique_lock l(m);
        roomy = false;
        d->ArmStatusTrigger(freeTrigger, 4096, true);
        cv.wait(l, [&] { return roomy; });
        continue;
      }
      open.port.WriteBlock(data.data() + sent, n);
      sent += n;
    }
    reader.join();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMegabyte));
}
BENCHMARK(BM_PortSend1MB)->Unit(benchmark::kMillisecond)->UseRealTime();

// 1 MB from the far end into the port.
void BM_PortReceive1MB(benchmark::State& state) {
  TOpenPort open;
  std::vector<uint8_t> data(kMegabyte, 0xAA), buf(8192);
  for (auto _ : state) {
    std::thread writer([&] { WriteAll(Pty().master, data.data(), kMegabyte); });
    size_t got = 0;
    while (got < kMegabyte) {
      const size_t n = open.port.ReadBlock(buf.data(), buf.size());
      if (n == 0) open.port.Dispatcher()->WaitForInput(std::chrono::milliseconds(10));
      got += n;
    }
    writer.join();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMegabyte));
}
BENCHMARK(BM_PortReceive1MB)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baselines: the same transfers with blocking read/write on the slave.
int OpenPlainSlave() {
  const int fd = ::open(Pty().path.c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
  return fd;
}

void BM_PlainSend1MB(benchmark::State& state) {
  const int fd = OpenPlainSlave();
  std::vector<uint8_t> data(kMegabyte, 0x55);
  for (auto _ : state) {
    std::thread reader([&] { ReadAll(Pty().master, kMegabyte); });
    for (size_t sent = 0; sent < kMegabyte;) {
      const ssize_t w = ::write(fd, data.data() + sent, std::min<size_t>(8192, kMegabyte - sent));
      if (w > 0) sent += static_cast<size_t>(w);
    }
    reader.join();
  }
  ::close(fd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMegabyte));
}
BENCHMARK(BM_PlainSend1MB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainReceive1MB(benchmark::State& state) {
  const int fd = OpenPlainSlave();
  std::vector<uint8_t> data(kMegabyte, 0xAA), buf(8192);
  for (auto _ : state) {
    std::thread writer([&] { WriteAll(Pty().master, data.data(), kMegabyte); });
    for (size_t got = 0; got < kMegabyte;) {
      const ssize_t r = ::read(fd, buf.data(), buf.size());
      if (r > 0) got += static_cast<size_t>(r);
    }
    writer.join();
  }
  ::close(fd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMegabyte));
}
BENCHMARK(BM_PlainReceive1MB)->Unit(benchmark::kMillisecond)->UseRealTime();

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// An open port with a data trigger and a handler, and nothing arriving.
void BM_IdlePortCpu(benchmark::State& state) {
  TOpenPort open;
  open.port.Dispatcher()->AddDataTrigger("RING", false);
  open.port.Dispatcher()->AddMethodHandler([](uint16_t, uint16_t, uint32_t) {});
  for (auto _ : state) {
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    state.counters["cpu_percent"] = 100.0 * (CpuSeconds() - cpu0) / wall;
  }
}
BENCHMARK(BM_IdlePortCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
