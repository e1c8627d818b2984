#include "faxengine/class1/Frames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Collected {
  std::vector<std::string> lines;
  std::vector<TFxFrame> frames;
  std::vector<TFxFrameError> errors;
};

Collected Collect(TFxFrameCollector& c, const Bytes& in) {
  Collected out;
  for (uint8_t b : in) {
    switch (c.Feed(b)) {
      case TFxCollect::ccLine: out.lines.push_back(c.Line()); break;
      case TFxCollect::ccFrame: out.frames.push_back(c.Frame()); break;
      case TFxCollect::ccBadFrame: out.errors.push_back(c.Error()); break;
      case TFxCollect::ccNothing: break;
    }
  }
  return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(Class1Frames, BuildDoublesDleAndEndsWithDleEtx) {
  EXPECT_EQ(FxBuildFrame(TFxFcf::DCN, true), (Bytes{0xFF, 0x13, 0xFB, 0x10, 0x03}));
  EXPECT_EQ(FxBuildFrame(TFxFcf::TSI, false, {0x31}), (Bytes{0xFF, 0x03, 0x43, 0x31, 0x10, 0x03}));
  // A 0x10 in the FIF (V.17 12000 in a DCS has none, but scan-time bits do)
  // must not reach the modem as a lone DLE.
  EXPECT_EQ(FxBuildFrame(TFxFcf::DCS, true, {0x00, 0x10, 0x10}),
            (Bytes{0xFF, 0x13, 0x83, 0x00, 0x10, 0x10, 0x10, 0x10, 0x10, 0x03}));
  // An information field longer than a frame allows is cut, not sent whole.
  const Bytes big = FxBuildFrame(TFxFcf::CSI, false, Bytes(1000, 'A'));
  EXPECT_EQ(big.size(), kFxMaxFrame + 2);
}

TEST(Class1Frames, CollectorRoundTripsBuiltFrames) {
  TFxFrameCollector c;
  const Bytes fif = {0x00, 0x10, 0x70, 0x10, 0x03, 0xFF};
  const Bytes wire = Cat(Cat(Text("\r\nCONNECT\r\n"), FxBuildFrame(TFxFcf::DIS, true, fif)), Text("\r\nOK\r\n"));
  const Collected got = Collect(c, wire);
  ASSERT_EQ(got.lines, (std::vector<std::string>{"CONNECT", "OK"}));
  ASSERT_EQ(got.frames.size(), 1u);
  EXPECT_EQ(got.frames[0].fcf, 0x80);
  EXPECT_TRUE(got.frames[0].Final());
  EXPECT_EQ(got.frames[0].Kind(), TFxFrameKind::fkDIS);
  EXPECT_EQ(got.frames[0].fif, fif);
  EXPECT_TRUE(got.errors.empty());
  EXPECT_FALSE(c.InFrame());
}

TEST(Class1Frames, CollectorDropsNoiseBeforeAddressAndHandlesDleCodes) {
  TFxFrameCollector c;
  // Noise bytes, then a frame with DLE SUB (two 0x10) and an unknown DLE pair.
  const Bytes wire = {0x00, 0x7E, 0xFF, 0x03, 0x40, 0x10, 0x1A, 0x10, 0x55, 0x41, 0x10, 0x03};
  const Collected got = Collect(c, wire);
  ASSERT_EQ(got.frames.size(), 1u);
  EXPECT_FALSE(got.frames[0].Final());
  EXPECT_EQ(got.frames[0].fif, (Bytes{0x10, 0x10, 0x41}));
  EXPECT_TRUE(got.lines.empty());
}

TEST(Class1Frames, CollectorReportsGarbageAndRecovers) {
  TFxFrameCollector c;
  // Too short, bad control, then far too long without DLE ETX, then a good one.
  Bytes wire = {0xFF, 0x13, 0x10, 0x03, 0xFF, 0x44, 0x80, 0x10, 0x03};
  wire.push_back(0xFF);
  wire.insert(wire.end(), 2000, 0x13);
  wire.insert(wire.end(), {0x10, 0x03});
  wire = Cat(wire, FxBuildFrame(TFxFcf::CFR, true));
  wire = Cat(wire, Text("\r\nOK\r\n"));
  const Collected got = Collect(c, wire);
  EXPECT_EQ(got.errors, (std::vector<TFxFrameError>{TFxFrameError::feTooShort, TFxFrameError::feBadControl,
                                                     TFxFrameError::feTooLong}));
  ASSERT_EQ(got.frames.size(), 1u);
  EXPECT_EQ(got.frames[0].Kind(), TFxFrameKind::fkCFR);
  EXPECT_EQ(got.lines, std::vector<std::string>{"OK"});
  // A frame that never ends stays bounded: the collector reports it once.
  TFxFrameCollector d;
  Bytes endless = {0xFF};
  endless.insert(endless.end(), 100000, 0x55);
  EXPECT_EQ(Collect(d, endless).errors.size(), 1u);
}

TEST(Class1Frames, FcfRecognition) {
  // Every frame the machines act on, as the called station sends it (X bit
  // clear) and as the calling station does (X bit set): which one a frame
  // carries depends on who placed the call, not on what it means.
  const std::pair<uint8_t, TFxFrameKind> kFrames[] = {
      {0x80, TFxFrameKind::fkDIS}, {0x40, TFxFrameKind::fkCSI}, {0x42, TFxFrameKind::fkCSI},
      {0x82, TFxFrameKind::fkDCS}, {0x84, TFxFrameKind::fkCFR}, {0x44, TFxFrameKind::fkFTT},
      {0x4C, TFxFrameKind::fkRTN}, {0x8C, TFxFrameKind::fkMCF}, {0xCC, TFxFrameKind::fkRTP},
      {0x4E, TFxFrameKind::fkMPS}, {0x8E, TFxFrameKind::fkEOM}, {0x2E, TFxFrameKind::fkEOP},
      {0xFA, TFxFrameKind::fkDCN},
  };
  for (const auto& [fcf, kind] : kFrames) {
    EXPECT_EQ(FxFrameKind(fcf), kind) << std::hex << int(fcf);
    EXPECT_EQ(FxFrameKind(static_cast<uint8_t>(fcf | 0x01)), kind) << std::hex << int(fcf | 0x01);
  }
  // The named send values carry the X bit of the calling station where the
  // frame has one.
  EXPECT_EQ(FxFrameKind(static_cast<uint8_t>(TFxFcf::MCF)), TFxFrameKind::fkMCF);
  EXPECT_EQ(FxFrameKind(static_cast<uint8_t>(TFxFcf::RTP)), TFxFrameKind::fkRTP);
  EXPECT_EQ(FxFrameKind(0x20), TFxFrameKind::fkOther);  // NSF
  EXPECT_EQ(FxFrameKind(0x21), TFxFrameKind::fkOther);  // NSC
  EXPECT_EQ(FxFrameKind(0x1A), TFxFrameKind::fkOther);  // CRP
  EXPECT_EQ(FxFrameKind(0x00), TFxFrameKind::fkOther);
}

TEST(Class1Frames, SpeedQueryAndChoice) {
  const TFxSpeedSet all = FxParseSpeedQuery("24,48,72,73,74,96,97,98,121,122,145,146");
  EXPECT_EQ(all.Highest(), 6);
  const TFxSpeedSet v29 = FxParseSpeedQuery("(24,48,72,96)");
  EXPECT_EQ(v29.Highest(), 4);
  EXPECT_FALSE(v29.Has(5));
  // No list: only the two speeds every fax modem has.
  EXPECT_EQ(FxParseSpeedQuery("ERROR").Highest(), 2);
  // Codes are compared whole: 1450 is not 145.
  EXPECT_FALSE(FxParseSpeedQuery("24,48,1450").Has(6));

  // A DIS offering 14400, DesiredBPS 9600: 9600 on V.29, DCS bits 0x04, "96".
  TFxDisInfo dis;
  ASSERT_TRUE(FxDecodeDis({0x00, 0x6E, 0x79, 0x00}, dis));
  EXPECT_TRUE(dis.speeds.Has(6));
  EXPECT_TRUE(dis.speeds.Has(5));
  const int idx = FxChooseSpeed(all, dis.speeds, 9600);
  EXPECT_EQ(idx, 4);
  EXPECT_STREQ(FxSpeed(idx).longTrain, "96");
  EXPECT_EQ(FxEncodeDcs(idx, false, false, 0, dis)[1] & 0x3C, 0x04);

  // FTT at 9600 steps to 7200 "72"; at 2400 nothing is left.
  const int down = FxStepDown(all, dis.speeds, idx);
  EXPECT_EQ(down, 3);
  EXPECT_STREQ(FxSpeed(down).longTrain, "72");
  EXPECT_EQ(FxStepDown(all, dis.speeds, 1), 0);
  // A step from 14400 tries 12000 when both sides have it, and skips what
  // one side lacks.
  EXPECT_EQ(FxStepDown(all, dis.speeds, 6), 5);
  EXPECT_EQ(FxStepDown(v29, dis.speeds, 6), 4);
  TFxDisInfo v27;
  ASSERT_TRUE(FxDecodeDis({0x00, 0x48, 0x00}, v27));
  EXPECT_EQ(FxChooseSpeed(all, v27.speeds, 14400), 2);
  EXPECT_EQ(FxStepDown(all, v27.speeds, 2), 1);
  EXPECT_EQ(FxChooseSpeed(all, dis.speeds, 1000), 1);
}

TEST(Class1Frames, DisDecoding) {
  TFxDisInfo d;
  EXPECT_FALSE(FxDecodeDis({0x00, 0x6E}, d));
  // Fine, V.17, 1728/2048, B4, 10 ms (code 3).
  ASSERT_TRUE(FxDecodeDis({0x00, 0x6E, 0x29}, d));
  EXPECT_TRUE(d.fine);
  EXPECT_TRUE(d.wide);
  EXPECT_TRUE(d.lengthB4);
  EXPECT_EQ(d.scanTimeCode, 3);
  EXPECT_TRUE(d.receives);
  // 1728/2048/2432 includes 2048; bits 17-18 both set is invalid.
  ASSERT_TRUE(FxDecodeDis({0x00, 0x02, 0x02}, d));
  EXPECT_TRUE(d.wide);
  EXPECT_FALSE(d.fine);
  ASSERT_TRUE(FxDecodeDis({0x00, 0x02, 0x03}, d));
  EXPECT_FALSE(d.wide);
  // Reserved speed bits (bit 13 alone) add nothing beyond 2400/4800.
  ASSERT_TRUE(FxDecodeDis({0x00, 0x12, 0x00}, d));
  EXPECT_EQ(d.speeds.Highest(), 2);
  // Scan time codes of every bit pattern.
  const int codes[8] = {5, 1, 3, 4, 7, 6, 2, 0};
  for (uint8_t i = 0; i < 8; ++i) EXPECT_EQ(FxScanCodeFromBits(static_cast<uint8_t>(i << 4)), codes[i]);
}

TEST(Class1Frames, DcsEncodingMatchesT30) {
  TFxDisInfo remote;
  remote.lengthB4 = true;
  // Speed bits of the six speeds.
  const uint8_t bits[7] = {0, 0x00, 0x08, 0x0C, 0x04, 0x28, 0x20};
  for (int i = 1; i <= 6; ++i) EXPECT_EQ(FxEncodeDcs(i, false, false, 5, remote)[1], 0x02 | bits[i]) << i;
  EXPECT_EQ(FxEncodeDcs(6, true, true, 0, remote), (Bytes{0x00, 0x62, 0xF9, 0x00}));
  // Scan time: code 2 is 10 ms normal, 5 ms fine; code 6 is 40 ms normal, 20 ms fine.
  EXPECT_EQ(FxEncodeDcs(1, false, false, 2, remote)[2] & 0x70, 0x20);
  EXPECT_EQ(FxEncodeDcs(1, true, false, 2, remote)[2] & 0x70, 0x10);
  EXPECT_EQ(FxEncodeDcs(1, false, false, 6, remote)[2] & 0x70, 0x40);
  EXPECT_EQ(FxEncodeDcs(1, true, false, 6, remote)[2] & 0x70, 0x00);
  // A remote offering A4 only is not sent a B4 length.
  EXPECT_EQ(FxEncodeDcs(1, false, false, 0, TFxDisInfo{})[2] & 0x0C, 0x00);

  // Decoding what is encoded gives the same parameters back, with the codes
  // for AT+FRM.
  for (int i = 1; i <= 6; ++i) {
    TFxDcsInfo d;
    ASSERT_TRUE(FxDecodeDcs(FxEncodeDcs(i, i % 2 == 0, i == 3, i, remote), d));
    EXPECT_EQ(d.speedIndex, i);
    EXPECT_EQ(d.fine, i % 2 == 0);
    EXPECT_EQ(d.wide, i == 3);
    EXPECT_EQ(d.longTrain, FxSpeed(i).longTrain);
    EXPECT_EQ(d.shortTrain, FxSpeed(i).shortTrain);
  }
  // V.17 at 9600 and 7200, as a sender falling back from 14400 uses them.
  TFxDcsInfo d;
  ASSERT_TRUE(FxDecodeDcs({0x00, 0x26, 0x00}, d));
  EXPECT_EQ(d.speedIndex, 4);
  EXPECT_EQ(d.longTrain, "97");
  EXPECT_EQ(d.shortTrain, "98");
  ASSERT_TRUE(FxDecodeDcs({0x00, 0x2E, 0x00}, d));
  EXPECT_EQ(d.longTrain, "73");
  // V.33 cannot be received; a two-byte DCS says nothing.
  EXPECT_FALSE(FxDecodeDcs({0x00, 0x12, 0x00}, d));
  EXPECT_FALSE(FxDecodeDcs({0x00, 0x06}, d));
  // 2048 is offered; 2432 and the invalid width code are not.
  ASSERT_TRUE(FxDecodeDcs({0x00, 0x06, 0x01}, d));
  EXPECT_TRUE(d.wide);
  EXPECT_FALSE(FxDecodeDcs({0x00, 0x06, 0x02}, d));
  EXPECT_FALSE(FxDecodeDcs({0x00, 0x06, 0x03}, d));
}

TEST(Class1Frames, DisEncoding) {
  EXPECT_EQ(FxEncodeDis(6), (Bytes{0x00, 0x6E, 0xF9, 0x00}));
  EXPECT_EQ(FxEncodeDis(5), (Bytes{0x00, 0x6E, 0xF9, 0x00}));
  EXPECT_EQ(FxEncodeDis(4), (Bytes{0x00, 0x4E, 0xF9, 0x00}));
  EXPECT_EQ(FxEncodeDis(2), (Bytes{0x00, 0x4A, 0xF9, 0x00}));
  EXPECT_EQ(FxEncodeDis(1), (Bytes{0x00, 0x42, 0xF9, 0x00}));
  TFxDisInfo d;
  ASSERT_TRUE(FxDecodeDis(FxEncodeDis(6), d));
  EXPECT_EQ(d.speeds.Highest(), 6);
  EXPECT_EQ(d.scanTimeCode, 0);
}

TEST(Class1Frames, StationIds) {
  // Last character first, the unused (most significant) positions after it,
  // as fax machines lay out "123-456-7890": 30 39 38 ... 31 20 20 ...
  const Bytes abc = FxEncodeId("ABC");
  ASSERT_EQ(abc.size(), 20u);
  EXPECT_EQ(std::string(abc.begin(), abc.end()), "CBA" + std::string(17, ' '));
  EXPECT_EQ(FxDecodeId(abc), "ABC");
  // Padding in front is read as well.
  const std::string front = std::string(17, ' ') + "CBA";
  EXPECT_EQ(FxDecodeId(Bytes(front.begin(), front.end())), "ABC");
  EXPECT_EQ(FxEncodeId("+49 30 1234567890123456").size(), 20u);
  EXPECT_EQ(FxDecodeId(FxEncodeId("+1 555 0100")), "+1 555 0100");
  EXPECT_EQ(FxDecodeId({}), "");
  // Over-long: only the first 20 bytes count; control bytes are dropped.
  Bytes longId = {'1', '2', 0x07, '3'};
  longId.resize(300, 'X');
  EXPECT_EQ(FxDecodeId(longId), std::string(16, 'X') + "321");
}

TEST(Class1Frames, FrameCheckSequencePassedOnByTheModemIsRemoved) {
  const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(FxFcs(check, sizeof check), 0x906E);
  // A CSI as a modem delivers it: FIF, then the FCS low byte first.
  Bytes raw = {0xFF, 0x03, 0x40};
  const Bytes id = FxEncodeId("+1 555 0200");
  raw.insert(raw.end(), id.begin(), id.end());
  const uint16_t fcs = FxFcs(raw.data(), raw.size());
  Bytes withFcs = raw;
  withFcs.push_back(static_cast<uint8_t>(fcs & 0xFF));
  withFcs.push_back(static_cast<uint8_t>(fcs >> 8));
  Bytes wire;
  for (uint8_t b : withFcs) {
    if (b == 0x10) wire.push_back(0x10);
    wire.push_back(b);
  }
  wire.push_back(0x10);
  wire.push_back(0x03);
  TFxFrameCollector c;
  Collected got = Collect(c, wire);
  ASSERT_EQ(got.frames.size(), 1u);
  EXPECT_TRUE(got.frames[0].hadFcs);
  EXPECT_EQ(got.frames[0].fif, id);
  EXPECT_EQ(FxDecodeId(got.frames[0].fif), "+1 555 0200");
  // Two trailing bytes that are not the FCS stay in the field.
  wire[wire.size() - 3] ^= 0x01;
  got = Collect(c, wire);
  ASSERT_EQ(got.frames.size(), 1u);
  EXPECT_FALSE(got.frames[0].hadFcs);
  EXPECT_EQ(got.frames[0].fif.size(), 22u);
}

TEST(Class1Frames, TrainingCheck) {
  EXPECT_EQ(FxTrainingCheckSize(9600), 1728u);
  EXPECT_EQ(FxTrainingCheckSize(14400), 2592u);
  const Bytes tcf = FxBuildTrainingCheck(2400);
  ASSERT_EQ(tcf.size(), 432u + 2);
  EXPECT_EQ(tcf[tcf.size() - 2], 0x10);
  EXPECT_EQ(tcf.back(), 0x03);

  // 5% non-zero passes, 10% fails.
  auto judge = [](size_t total, size_t nonZero) {
    TFxTrainingCheck c(9600);
    for (size_t i = 0; i < total; ++i) c.Feed(i < nonZero ? 0x55 : 0x00);
    EXPECT_TRUE(c.Feed(0x10) == false && c.Feed(0x03));
    return c.Good();
  };
  EXPECT_TRUE(judge(1000, 50));
  EXPECT_FALSE(judge(1000, 100));
  EXPECT_TRUE(judge(1000, 99));
  // The same 5% scattered over the whole check: a line that damages data.
  TFxTrainingCheck scattered(9600);
  for (size_t i = 0; i < 1000; ++i) scattered.Feed(i % 20 == 10 ? 0x55 : 0x00);
  scattered.Feed(0x10);
  scattered.Feed(0x03);
  EXPECT_FALSE(scattered.Good());
  // Nothing, or a fragment, is no training.
  EXPECT_FALSE(judge(0, 0));
  EXPECT_FALSE(judge(100, 0));
  // DLE DLE is one non-zero byte, not two bytes and not an end.
  TFxTrainingCheck c(2400);
  for (int i = 0; i < 300; ++i) c.Feed(0);
  c.Feed(0x10);
  c.Feed(0x10);
  EXPECT_FALSE(c.Done());
  EXPECT_EQ(c.Total(), 301u);
  EXPECT_EQ(c.NonZero(), 1u);
  c.Feed(0x10);
  EXPECT_TRUE(c.Feed(0x03));
  EXPECT_TRUE(c.Good());
}

}  // namespace
