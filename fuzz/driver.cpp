// Stand-alone driver for the fuzz targets when libFuzzer is not in use.
// Replays every file of the seed corpus, then feeds deterministic mutations
// of them for a bounded time (CORVANE_FUZZ_SECONDS, default 10) so that the
// targets run as ordinary tests, under the sanitizers in CI.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> LoadCorpus(const char* dir) {
  std::vector<Bytes> corpus;
  if (dir == nullptr) return corpus;
  std::error_code ec;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir, ec)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return corpus;
}

void Mutate(Bytes& b, std::mt19937_64& rng) {
  static const uint8_t kInteresting[] = {0x00, 0x01, 0x7f, 0x80, 0xff, 0x10, 0x03, 0x11, 0x13, 0x0d, 0x0a};
  const int steps = 1 + static_cast<int>(rng() % 8);
  for (int i = 0; i < steps; ++i) {
    const size_t pos = b.empty() ? 0 : rng() % b.size();
    switch (rng() % 7) {
      case 0:
        if (!b.empty()) b[pos] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 1:
        if (!b.empty()) b[pos] = kInteresting[rng() % sizeof kInteresting];
        break;
      case 2:
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(pos), static_cast<uint8_t>(rng()));
        break;
      case 3:
        if (!b.empty()) b.erase(b.begin() + static_cast<std::ptrdiff_t>(pos));
        break;
      case 4:
        if (!b.empty()) b.resize(pos);
        break;
      case 5: {
        if (b.empty()) break;
        const size_t len = 1 + rng() % std::min<size_t>(64, b.size() - pos);
        Bytes chunk(b.begin() + static_cast<std::ptrdiff_t>(pos), b.begin() + static_cast<std::ptrdiff_t>(pos + len));
        const size_t at = rng() % (b.size() + 1);
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), chunk.begin(), chunk.end());
        break;
      }
      default:
        if (b.size() >= 4) {
          const size_t at = rng() % (b.size() - 3);
          const uint32_t v = static_cast<uint32_t>(rng());
          for (int k = 0; k < 4; ++k) b[at + static_cast<size_t>(k)] = static_cast<uint8_t>(v >> (8 * k));
        }
        break;
    }
  }
  if (b.size() > (1u << 20)) b.resize(1u << 20);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Bytes> corpus = LoadCorpus(argc > 1 ? argv[1] : nullptr);
  for (const Bytes& b : corpus) LLVMFuzzerTestOneInput(b.data(), b.size());
  if (corpus.empty()) corpus.emplace_back();

  double seconds = 10;
  if (const char* s = std::getenv("CORVANE_FUZZ_SECONDS")) seconds = std::atof(s);
  std::mt19937_64 rng(0xC0FFEEu);
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  long runs = 0;
  while (std::chrono::steady_clock::now() < end) {
    Bytes b = corpus[rng() % corpus.size()];
    Mutate(b, rng);
    LLVMFuzzerTestOneInput(b.data(), b.size());
    ++runs;
  }
  std::printf("%zu seed inputs, %ld mutated inputs: no failure\n", corpus.size(), runs);
  return 0;
}
