#include "tools/cvmodemline/FarEnd.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>

#include <tiffio.h>

#include <spandsp.h>

#include "faxengine/t30/T30.h"

namespace {
constexpr long kHangupDelay = kTicksPerSecond;

std::string Stamp() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
  return buf;
}

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
}  // namespace

TFarEndFax::TFarEndFax(TLine& line, std::string number, std::string folder, std::string stationId)
    : line_(line), number_(std::move(number)), folder_(std::move(folder)), stationId_(std::move(stationId)) {
  std::filesystem::create_directories(folder_);
  line_.Register(number_, this);
}

TFarEndFax::~TFarEndFax() {
  if (fax_) fax_free(fax_);  // releases the T.30 state too
}

bool TFarEndFax::Send(const std::string& digits, const std::string& tiffFile, std::string& why) {
  if (line_.InCall(this) || fax_) {
    why = "far end is busy";
    return false;
  }
  std::unique_ptr<TIFF, TiffCloser> t(TIFFOpen(tiffFile.c_str(), "r"));
  if (!t) {
    why = "cannot read TIFF file " + tiffFile;
    return false;
  }
  sending_ = true;
  sendFile_ = tiffFile;
  result_.clear();
  line_.Dial(this, digits, 60);
  return true;
}

void TFarEndFax::LineRing() {
  if (fax_) return;
  if (++rings_ >= answerRings_) {
    rings_ = 0;
    sending_ = false;
    line_.Answer(this);
  }
}

void TFarEndFax::LineConnected() {
  rings_ = 0;
  phaseEDone_ = false;
  answeredAt_ = samples_;
  negotiationUs_ = -1;
  hangupTicks_ = -1;
  fax_ = fax_init(nullptr, sending_ ? 1 : 0);
  fax_set_transmit_on_idle(fax_, 1);
  t30_state_t* t30 = fax_get_t30_state(fax_);
  if (std::getenv("CVMODEMLINE_SPANDSP_LOG")) {
    const int level = static_cast<int>(SPAN_LOG_DEBUG) | static_cast<int>(SPAN_LOG_SHOW_TAG);
    span_log_set_level(t30_get_logging_state(t30), level);
    span_log_set_tag(t30_get_logging_state(t30), "farend");
    span_log_set_level(fax_get_logging_state(fax_), level);
    span_log_set_tag(fax_get_logging_state(fax_), "farend");
  }
  t30_set_tx_ident(t30, stationId_.c_str());
  t30_set_supported_modems(t30, T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
  t30_set_supported_compressions(t30, T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION);
  t30_set_supported_resolutions(t30, T30_SUPPORT_STANDARD_RESOLUTION | T30_SUPPORT_FINE_RESOLUTION |
                                         T30_SUPPORT_SUPERFINE_RESOLUTION);
  t30_set_ecm_capability(t30, 0);
  t30_set_phase_e_handler(t30, &TFarEndFax::PhaseE, this);
  t30_set_real_time_frame_handler(t30, &TFarEndFax::Frame, this);
  if (sending_) {
    t30_set_tx_file(t30, sendFile_.c_str(), -1, -1);
    rxFile_.clear();
  } else {
    rxFile_ = folder_ + "/fax-" + Stamp() + "-" + std::to_string(++serial_) + ".tif";
    t30_set_rx_file(t30, rxFile_.c_str(), -1);
  }
}

void TFarEndFax::Frame(t30_state_s*, void* user, int incoming, const uint8_t* msg, int len) {
  auto* self = static_cast<TFarEndFax*>(user);
  constexpr uint8_t kCfr = 0x84;
  // The first CFR of the call ends the negotiation: the page follows it.
  if (!incoming && len >= 3 && (msg[2] & 0xFE) == kCfr && self->negotiationUs_ < 0)
    self->negotiationUs_ = (self->samples_ - self->answeredAt_) * 1000000 / 8000;
}

void TFarEndFax::PhaseE(t30_state_s* t30, void* user, int result) {
  auto* self = static_cast<TFarEndFax*>(user);
  t30_state_t* s = t30;
  t30_stats_t st{};
  t30_get_transfer_statistics(s, &st);
  const char* remote = t30_get_rx_ident(s);
  // A call that failed before its speed or page format was agreed leaves
  // stale or meaningless values in the statistics: only what the call
  // settled is logged.
  std::string settled;
  if (t30::IsSpeed(st.bit_rate)) settled += " rate=" + std::to_string(st.bit_rate);
  if (st.x_resolution > 0 && st.y_resolution > 0)
    settled += " resolution=" + std::to_string(st.x_resolution) + "x" + std::to_string(st.y_resolution);
  if (st.width > 0) settled += " width=" + std::to_string(st.width);
  char buf[512];
  std::snprintf(buf, sizeof buf, "%s %s pages=%d%s remote=\"%s\" result=%d (%s)",
                self->sending_ ? "sent" : "received",
                self->sending_ ? self->sendFile_.c_str() : self->rxFile_.c_str(),
                self->sending_ ? st.pages_tx : st.pages_rx, settled.c_str(), remote ? remote : "", result,
                t30_completion_code_to_str(result));
  self->result_ = buf;
  self->phaseEDone_ = true;
  self->hangupTicks_ = 0;
}

void TFarEndFax::Finish(const std::string& why) {
  if (!fax_) return;
  t30_state_t* t30 = fax_get_t30_state(fax_);
  if (!phaseEDone_) t30_terminate(t30);
  fax_free(fax_);
  fax_ = nullptr;
  std::string line = result_.empty() ? (sending_ ? "sent " + sendFile_ : "received " + rxFile_) + " " + why
                                     : result_;
  if (!sending_ && !rxFile_.empty()) {
    std::string base = rxFile_.substr(0, rxFile_.size() - 4);
    auto pages = TiffToPbm(rxFile_, base);
    line += " pbm=" + std::to_string(pages.size());
  }
  Log(line);
  result_.clear();
  sending_ = false;
  hangupTicks_ = -1;
}

void TFarEndFax::Log(const std::string& text) {
  std::ofstream log(folder_ + "/faxes.log", std::ios::app);
  log << Stamp() << " " << text << "\n";
  std::fprintf(stderr, "cvmodemline: far end %s: %s\n", number_.c_str(), text.c_str());
}

void TFarEndFax::LineFailed(TCallFailure why) {
  static const char* const kWhy[] = {"busy", "no answer", "no dialtone", "voice"};
  Log("call failed: " + std::string(kWhy[static_cast<int>(why)]));
  sending_ = false;
}

void TFarEndFax::LineHungUp() {
  rings_ = 0;
  Finish("line dropped");
}

void TFarEndFax::Tick() {
  if (hangupTicks_ >= 0 && ++hangupTicks_ >= kHangupDelay) {
    line_.Hangup(this);
    Finish("");
  }
}

void TFarEndFax::LineTx(int16_t* amp, int n) {
  samples_ += n;
  if (!fax_) return;
  int made = fax_tx(fax_, amp, n);
  for (int i = made < 0 ? 0 : made; i < n; ++i) amp[i] = 0;
}

void TFarEndFax::LineRx(const int16_t* amp, int n) {
  if (!fax_) return;
  int16_t copy[kBlock];
  for (int i = 0; i < n && i < kBlock; ++i) copy[i] = amp[i];
  fax_rx(fax_, copy, n < kBlock ? n : kBlock);
}

std::vector<std::string> TFarEndFax::TiffToPbm(const std::string& tiff, const std::string& base) {
  std::vector<std::string> out;
  std::unique_ptr<TIFF, TiffCloser> t(TIFFOpen(tiff.c_str(), "r"));
  if (!t) return out;
  int page = 0;
  do {
    uint32_t width = 0;
    uint32_t length = 0;
    uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    uint16_t bits = 1;
    TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &length);
    TIFFGetFieldDefaulted(t.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(t.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    if (bits != 1 || width == 0 || width > 100000 || length > 1000000) break;
    const tmsize_t lineBytes = TIFFScanlineSize(t.get());
    std::vector<uint8_t> row(static_cast<size_t>(lineBytes));
    std::string name = base + "-p" + std::to_string(++page) + ".pbm";
    std::ofstream pbm(name, std::ios::binary);
    pbm << "P4\n" << width << " " << length << "\n";
    const size_t pbmBytes = (width + 7) / 8;
    for (uint32_t y = 0; y < length; ++y) {
      if (TIFFReadScanline(t.get(), row.data(), y, 0) < 0) std::fill(row.begin(), row.end(), uint8_t{0});
      // PBM has 1 for black, as MINISWHITE TIFF does.
      if (photometric == PHOTOMETRIC_MINISBLACK)
        for (auto& b : row) b = static_cast<uint8_t>(~b);
      pbm.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(pbmBytes));
    }
    out.push_back(name);
  } while (TIFFReadDirectory(t.get()));
  return out;
}
