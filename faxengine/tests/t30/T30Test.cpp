// The T.30 definitions against T.30's own tables: the FCF values with and
// without the X bit, every rate code of DIS and DCS, and the width, length,
// resolution and scan-time bits. The expected values are written here from
// the tables, not computed from the code under test.

#include <gtest/gtest.h>

#include <string>

#include "faxengine/t30/T30.h"

using namespace t30;

namespace {

struct TFcfRow {
  TFcf fcf;
  uint8_t value;  // as T.30 writes it, X bit clear
  const char* name;
};
// T.30 Table 1 ("X" taken as 0), first transmitted bit in the low position.
constexpr TFcfRow kFcfTable[] = {
    {TFcf::DCS, 0x82, "DCS"}, {TFcf::TSI, 0x42, "TSI"}, {TFcf::NSS, 0x22, "NSS"}, {TFcf::CFR, 0x84, "CFR"},
    {TFcf::FTT, 0x44, "FTT"}, {TFcf::EOM, 0x8E, "EOM"}, {TFcf::MPS, 0x4E, "MPS"}, {TFcf::EOP, 0x2E, "EOP"},
    {TFcf::PRI_EOM, 0x9E, "PRI-EOM"}, {TFcf::PRI_MPS, 0x5E, "PRI-MPS"}, {TFcf::PRI_EOP, 0x3E, "PRI-EOP"},
    {TFcf::MCF, 0x8C, "MCF"}, {TFcf::RTP, 0xCC, "RTP"}, {TFcf::RTN, 0x4C, "RTN"}, {TFcf::PIP, 0xAC, "PIP"},
    {TFcf::PIN, 0x2C, "PIN"}, {TFcf::DCN, 0xFA, "DCN"}, {TFcf::CRP, 0x1A, "CRP"},
};

}  // namespace

TEST(T30, EveryFcfReadsTheSameWhoeverPlacedTheCall) {
  for (const TFcfRow& row : kFcfTable) {
    EXPECT_EQ(static_cast<uint8_t>(row.fcf), row.value) << row.name;
    EXPECT_EQ(FcfByte(row.fcf, false), row.value) << row.name;
    EXPECT_EQ(FcfByte(row.fcf, true), row.value | 0x01) << row.name;
    EXPECT_EQ(FcfOf(row.value), row.fcf) << row.name;
    EXPECT_EQ(FcfOf(static_cast<uint8_t>(row.value | 0x01)), row.fcf) << row.name;
    EXPECT_STREQ(FcfName(row.value), row.name);
    EXPECT_STREQ(FcfName(static_cast<uint8_t>(row.value | 0x01)), row.name);
  }
  // The identification frames: their low bit makes the polling frames,
  // which this system reads as the frames they answer.
  EXPECT_EQ(static_cast<uint8_t>(TFcf::DIS), 0x80);
  EXPECT_EQ(static_cast<uint8_t>(TFcf::CSI), 0x40);
  EXPECT_EQ(static_cast<uint8_t>(TFcf::NSF), 0x20);
  EXPECT_EQ(FcfOf(0x81), TFcf::DIS);
  EXPECT_STREQ(FcfName(0x00), "?");
  EXPECT_STREQ(FcfName(0xFF), "?");
}

TEST(T30, DcsRateCodesBothWays) {
  // T.30 Table 2, DCS bits 11-14, as FIF byte 2 & 0x3C.
  struct TRow {
    uint8_t bits;
    int bps;
    TModulation mod;
    const char* longTrain;
    const char* shortTrain;
  };
  const TRow kTable[] = {
      {0x00, 2400, TModulation::V27ter, "24", "24"}, {0x08, 4800, TModulation::V27ter, "48", "48"},
      {0x0C, 7200, TModulation::V29, "72", "72"},    {0x04, 9600, TModulation::V29, "96", "96"},
      {0x2C, 7200, TModulation::V17, "73", "74"},    {0x24, 9600, TModulation::V17, "97", "98"},
      {0x28, 12000, TModulation::V17, "121", "122"}, {0x20, 14400, TModulation::V17, "145", "146"},
  };
  for (const TRow& row : kTable) {
    // Reading, whatever the other bits of the byte.
    for (uint8_t other : {uint8_t{0x00}, uint8_t{0xC3}}) {
      const TRate* r = DcsRate(static_cast<uint8_t>(row.bits | other));
      ASSERT_NE(r, nullptr) << int(row.bits);
      EXPECT_EQ(r->bps, row.bps) << int(row.bits);
      EXPECT_EQ(r->modulation, row.mod) << int(row.bits);
      EXPECT_STREQ(r->longTrain, row.longTrain);
      EXPECT_STREQ(r->shortTrain, row.shortTrain);
      EXPECT_EQ(r->dcsBits, row.bits);
    }
  }
  // V.33 (14400 0x10, 12000 0x18) and the reserved codes name nothing here.
  int named = 0;
  for (int bits = 0; bits <= 0x3C; bits += 4) named += DcsRate(static_cast<uint8_t>(bits)) != nullptr;
  EXPECT_EQ(named, 8);
  EXPECT_EQ(DcsRate(0x10), nullptr);
  EXPECT_EQ(DcsRate(0x18), nullptr);

  // Writing: each speed goes out on its usual modulation.
  const std::pair<int, uint8_t> kSend[] = {{2400, 0x00}, {4800, 0x08}, {7200, 0x0C},
                                           {9600, 0x04}, {12000, 0x28}, {14400, 0x20}};
  for (const auto& [bps, bits] : kSend) {
    const TRate* r = SendRate(bps);
    ASSERT_NE(r, nullptr) << bps;
    EXPECT_EQ(r->dcsBits, bits) << bps;
    EXPECT_EQ(DcsRate(r->dcsBits), r) << bps;
    EXPECT_TRUE(IsSpeed(bps));
  }
  EXPECT_EQ(SendRate(0), nullptr);
  EXPECT_EQ(SendRate(16843010), nullptr);
  EXPECT_FALSE(IsSpeed(9601));
}

TEST(T30, DisRateCodesBothWays) {
  // T.30 Table 2, DIS bits 11-14: the codes it lists and what they offer.
  struct TRow {
    uint8_t bits;
    bool v27, v29, v17, v33;
    int highest;
  };
  const TRow kTable[] = {
      {0x00, false, false, false, false, 2400},  // V.27ter fall-back mode
      {0x08, true, false, false, false, 4800},   // V.27ter
      {0x04, false, true, false, false, 9600},   // V.29
      {0x0C, true, true, false, false, 9600},    // V.27ter and V.29
      {0x1C, true, true, false, true, 9600},     // with V.33, which is not run here
      {0x2C, true, true, true, false, 14400},    // with V.17
  };
  for (const TRow& row : kTable) {
    const TDisModems m = DisModems(static_cast<uint8_t>(row.bits | 0xC3));
    EXPECT_EQ(m.v27ter, row.v27) << int(row.bits);
    EXPECT_EQ(m.v29, row.v29) << int(row.bits);
    EXPECT_EQ(m.v17, row.v17) << int(row.bits);
    EXPECT_EQ(m.v33, row.v33) << int(row.bits);
    EXPECT_EQ(DisHighestBps(row.bits), row.highest) << int(row.bits);
  }
  // Offering every speed up to a maximum.
  const std::pair<int, uint8_t> kOffer[] = {{2400, 0x00}, {4800, 0x08}, {7200, 0x0C},
                                            {9600, 0x0C}, {12000, 0x2C}, {14400, 0x2C}};
  for (const auto& [bps, bits] : kOffer) {
    EXPECT_EQ(DisRateBits(bps), bits) << bps;
    EXPECT_GE(DisHighestBps(DisRateBits(bps)), bps);
  }
}

TEST(T30, ResolutionWidthLengthAndScanBits) {
  EXPECT_EQ(kFineBit, 0x40);  // bit 15
  EXPECT_EQ(kT4Bit, 0x02);    // bit 10
  EXPECT_EQ(kTwoDimBit, 0x80);
  // Width, bits 17-18: 1728 (0,0), 2048 (1,0), 2432 (0,1); (1,1) invalid.
  const uint8_t kWidth[3] = {0x00, 0x01, 0x02};
  for (int wd = 0; wd < 3; ++wd) {
    EXPECT_EQ(WidthBits(wd), kWidth[wd]);
    EXPECT_EQ(WidthOf(static_cast<uint8_t>(kWidth[wd] | 0xFC)), wd);
  }
  EXPECT_EQ(WidthOf(0x03), 0);
  // Length, bits 19-20: A4 (0,0), unlimited (1,0), B4 (0,1); (1,1) invalid.
  const uint8_t kLength[3] = {0x00, 0x08, 0x04};  // A4, B4, unlimited as Class 2 numbers them
  for (int ln = 0; ln < 3; ++ln) {
    EXPECT_EQ(LengthBits(ln), kLength[ln]);
    EXPECT_EQ(LengthOf(static_cast<uint8_t>(kLength[ln] | 0xF3)), ln);
  }
  EXPECT_EQ(LengthOf(0x0C), 0);
  // Minimum scan time, bits 21-23 of a DIS, by Class 2 code.
  const uint8_t kScan[8] = {0x70, 0x10, 0x60, 0x20, 0x30, 0x00, 0x50, 0x40};
  for (int st = 0; st < 8; ++st) {
    EXPECT_EQ(DisScanBits(st), kScan[st]) << st;
    EXPECT_EQ(ScanCodeOf(static_cast<uint8_t>(kScan[st] | 0x8F)), st) << st;
  }
  EXPECT_EQ(DisScanBits(9), 0x00);  // out of range: 20 ms
  // A DCS names the time in force: 0 ms 0x70, 5 ms 0x10, 10 ms 0x20, 20 ms 0x00, 40 ms 0x40.
  const int kNormalMs[8] = {0, 5, 10, 10, 20, 20, 40, 40};
  const int kFineMs[8] = {0, 5, 5, 10, 10, 20, 20, 40};
  auto bitsOf = [](int ms) -> uint8_t {
    return ms == 0 ? 0x70 : ms == 5 ? 0x10 : ms == 10 ? 0x20 : ms == 20 ? 0x00 : 0x40;
  };
  for (int st = 0; st < 8; ++st) {
    EXPECT_EQ(DcsScanBits(st, false), bitsOf(kNormalMs[st])) << st;
    EXPECT_EQ(DcsScanBits(st, true), bitsOf(kFineMs[st])) << st;
    EXPECT_EQ(DcsScanMs(DcsScanBits(st, false)), kNormalMs[st]) << st;
    EXPECT_EQ(DcsScanMs(DcsScanBits(st, true)), kFineMs[st]) << st;
  }
}
