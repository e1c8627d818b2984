#include "viewing/MonoRender.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

namespace {

// Taps of one axis: destination pixel d takes source pixels
// first[d] .. first[d] + count[d] - 1 with the weights in weight (overlap
// in units of 1/mult of a source pixel; the weights of one pixel add up to div).
struct TAxisTaps {
  std::vector<unsigned> first, count, offset;
  std::vector<uint32_t> weight;
  uint32_t total = 1;
};

TAxisTaps MakeTaps(unsigned srcSize, unsigned dstSize, unsigned mult, unsigned div) {
  const unsigned g = std::gcd(mult, div);
  mult /= g;
  div /= g;
  TAxisTaps t;
  t.total = div;
  t.first.resize(dstSize);
  t.count.resize(dstSize);
  t.offset.resize(dstSize);
  for (unsigned d = 0; d < dstSize; ++d) {
    const uint64_t lo = uint64_t{d} * div;  // in units where a source pixel is `mult` long
    const uint64_t hi = lo + div;
    const auto s0 = static_cast<unsigned>(lo / mult);
    const auto s1 = static_cast<unsigned>(std::min<uint64_t>((hi + mult - 1) / mult, srcSize));
    t.first[d] = s0;
    t.offset[d] = static_cast<unsigned>(t.weight.size());
    for (unsigned s = s0; s < s1; ++s) {
      const uint64_t a = std::max<uint64_t>(lo, uint64_t{s} * mult);
      const uint64_t b = std::min<uint64_t>(hi, uint64_t{s + 1} * mult);
      t.weight.push_back(static_cast<uint32_t>(b - a));
    }
    t.count[d] = s1 > s0 ? s1 - s0 : 0;
  }
  return t;
}

// Ink (0 none .. 255 full) to palette index (0 = fg .. 255 = bg). The square
// root darkens light greys, so a one-pixel stroke shrunk to a quarter of a
// screen pixel still reads as a mid-grey line.
const std::array<uint8_t, 256>& InkToIndex() {
  static const std::array<uint8_t, 256> lut = [] {
    std::array<uint8_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i)
      t[i] = static_cast<uint8_t>(255 - std::lround(std::sqrt(i / 255.0) * 255.0));
    return t;
  }();
  return lut;
}

QList<QRgb> Ramp(QRgb fg, QRgb bg) {
  QList<QRgb> colours(256);
  for (int i = 0; i < 256; ++i) {
    auto mix = [i](int a, int b) { return (a * (255 - i) + b * i + 127) / 255; };
    colours[i] = qRgb(mix(qRed(fg), qRed(bg)), mix(qGreen(fg), qGreen(bg)), mix(qBlue(fg), qBlue(bg)));
  }
  return colours;
}

inline bool Black(const uint8_t* row, unsigned x) { return (row[x >> 3] & (0x80u >> (x & 7))) == 0; }

// Shrinking by whole numbers, 1/k across (k = 2, 4 or 8) and 1/n down: every
// screen pixel is a k × n block, its ink counted a byte of the page at a time.
void ShrinkWhole(const TFxBitmap& page, unsigned k, unsigned n, QImage& image) {
  const unsigned groups = 8 / k;
  // Ink of each k-pixel group of a page byte (a set bit is paper).
  std::array<std::array<uint8_t, 8>, 256> ink{};
  for (unsigned b = 0; b < 256; ++b)
    for (unsigned g = 0; g < groups; ++g)
      for (unsigned i = 0; i < k; ++i) ink[b][g] = static_cast<uint8_t>(ink[b][g] + (((b >> (7 - g * k - i)) & 1u) ? 0 : 1));
  const auto& lut = InkToIndex();
  const unsigned dstW = static_cast<unsigned>(image.width()), dstH = static_cast<unsigned>(image.height());
  const unsigned full = k * n;
  const unsigned srcBytes = static_cast<unsigned>(std::min<size_t>(page.rowBytes, (dstW * k + 7) / 8));
  std::vector<uint16_t> acc(static_cast<size_t>(srcBytes) * groups + 8);
  for (unsigned dy = 0; dy < dstH; ++dy) {
    std::fill(acc.begin(), acc.end(), 0);
    for (unsigned r = 0; r < n; ++r) {
      const uint8_t* row = page.Row(dy * n + r);
      for (unsigned b = 0; b < srcBytes; ++b) {
        if (row[b] == 0xFF) continue;
        const auto& cnt = ink[row[b]];
        for (unsigned g = 0; g < groups; ++g) acc[b * groups + g] = static_cast<uint16_t>(acc[b * groups + g] + cnt[g]);
      }
    }
    uchar* out = image.scanLine(static_cast<int>(dy));
    for (unsigned dx = 0; dx < dstW; ++dx) out[dx] = lut[acc[dx] * 255u / full];
  }
}

}  // namespace

TFxBitmap FxRotateMono(const TFxBitmap& page, int quarterTurns) {
  const int turns = ((quarterTurns % 4) + 4) % 4;
  if (turns == 0 || page.Empty()) return page;
  const unsigned w = page.width, h = page.height;
  TFxBitmap out = turns == 2 ? TFxBitmap::MakeMono(w, h) : TFxBitmap::MakeMono(h, (w + 7) / 8 * 8);
  // Pages are mostly paper: walk the ink only, skipping white bytes.
  for (unsigned y = 0; y < h; ++y) {
    const uint8_t* row = page.Row(y);
    for (unsigned xb = 0; xb < (w + 7) / 8; ++xb) {
      if (row[xb] == 0xFF) continue;
      for (unsigned x = xb * 8; x < std::min(w, xb * 8 + 8); ++x) {
        if (!Black(row, x)) continue;
        if (turns == 1) out.SetBlack(h - 1 - y, x, true);
        else if (turns == 2) out.SetBlack(w - 1 - x, h - 1 - y, true);
        else out.SetBlack(y, w - 1 - x, true);
      }
    }
  }
  return out;
}

QImage RenderPage(const TFxBitmap& page, const TViewScale& scale, QRgb fg, QRgb bg) {
  if (page.Empty() || page.bitsPerPixel != 1) return {};
  const unsigned srcW = page.width, srcH = page.height;
  if (scale.Identity()) {
    QImage image(static_cast<int>(srcW), static_cast<int>(srcH), QImage::Format_Mono);
    if (image.isNull()) return {};
    image.setColorTable({fg, bg});
    const size_t bytes = std::min(page.rowBytes, static_cast<size_t>(image.bytesPerLine()));
    for (unsigned y = 0; y < srcH; ++y) std::memcpy(image.scanLine(static_cast<int>(y)), page.Row(y), bytes);
    return image;
  }
  const unsigned dstW = scale.ScaledWidth(srcW), dstH = scale.ScaledHeight(srcH);
  if (dstW == 0 || dstH == 0) return {};
  QImage image(static_cast<int>(dstW), static_cast<int>(dstH), QImage::Format_Indexed8);
  if (image.isNull()) return {};
  image.setColorTable(Ramp(fg, bg));

  const unsigned gh = std::gcd(scale.horizMult, scale.horizDiv), gv = std::gcd(scale.vertMult, scale.vertDiv);
  const unsigned across = scale.horizDiv / gh, down = scale.vertDiv / gv;
  if (scale.horizMult == gh && scale.vertMult == gv && (across == 2 || across == 4 || across == 8) && down <= 64) {
    ShrinkWhole(page, across, down, image);
    return image;
  }
  const TAxisTaps hx = MakeTaps(srcW, dstW, scale.horizMult, scale.horizDiv);
  const TAxisTaps vy = MakeTaps(srcH, dstH, scale.vertMult, scale.vertDiv);
  const uint64_t full = uint64_t{hx.total} * vy.total;
  const auto& lut = InkToIndex();
  std::vector<uint8_t> ink(srcW);      // one source row, 1 = black
  std::vector<uint32_t> rowInk(dstW);  // that row's ink per destination column
  std::vector<uint64_t> acc(dstW);
  unsigned cachedRow = ~0u;
  for (unsigned dy = 0; dy < dstH; ++dy) {
    std::fill(acc.begin(), acc.end(), 0);
    for (unsigned k = 0; k < vy.count[dy]; ++k) {
      const unsigned sy = vy.first[dy] + k;
      if (sy != cachedRow) {
        cachedRow = sy;
        const uint8_t* row = page.Row(sy);
        for (unsigned x = 0; x < srcW; ++x) ink[x] = Black(row, x) ? 1 : 0;
        for (unsigned dx = 0; dx < dstW; ++dx) {
          uint32_t sum = 0;
          const uint32_t* wgt = hx.weight.data() + hx.offset[dx];
          const uint8_t* src = ink.data() + hx.first[dx];
          for (unsigned i = 0; i < hx.count[dx]; ++i) sum += src[i] * wgt[i];
          rowInk[dx] = sum;
        }
      }
      const uint32_t wy = vy.weight[vy.offset[dy] + k];
      for (unsigned dx = 0; dx < dstW; ++dx) acc[dx] += uint64_t{rowInk[dx]} * wy;
    }
    uchar* out = image.scanLine(static_cast<int>(dy));
    for (unsigned dx = 0; dx < dstW; ++dx) out[dx] = lut[static_cast<size_t>(acc[dx] * 255 / full)];
  }
  return image;
}

QImage ReadyToPaint(QImage image) {
  constexpr qsizetype kMaxPixels = 8 * 1024 * 1024;
  if (image.format() == QImage::Format_Indexed8 && qsizetype(image.width()) * image.height() <= kMaxPixels)
    return image.convertToFormat(QImage::Format_RGB32);
  return image;
}

TFxBitmap CopyBlock(const TFxBitmap& page, unsigned x, unsigned y, unsigned w, unsigned h) {
  TFxBitmap out = TFxBitmap::MakeMono(w, h);
  for (unsigned r = 0; r < h; ++r) {
    if (y + r >= page.height) break;
    const uint8_t* row = page.Row(y + r);
    for (unsigned c = 0; c < w; ++c) {
      if (x + c < page.width && Black(row, x + c)) out.SetBlack(c, r, true);
    }
  }
  return out;
}
