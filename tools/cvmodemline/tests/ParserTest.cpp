#include <gtest/gtest.h>

#include "faxengine/t30/T30.h"
#include "tools/cvmodemline/AtParser.h"
#include "tools/cvmodemline/Class2.h"
#include "tools/cvmodemline/Control.h"

TEST(AtParser, SplitsBasicRegisterAndExtendedCommands) {
  TAtParse p = ParseAtLine("E0v1S7=90+FCLASS=1;+FTM=?");
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(p.commands.size(), 5u);
  EXPECT_EQ(p.commands[0].name, "E");
  EXPECT_EQ(p.commands[0].number, 0);
  EXPECT_EQ(p.commands[1].name, "V");
  EXPECT_EQ(p.commands[2].kind, TAtKind::SRegister);
  EXPECT_EQ(p.commands[2].number, 7);
  EXPECT_EQ(p.commands[2].op, TAtOp::Set);
  EXPECT_EQ(p.commands[2].arg, "90");
  EXPECT_EQ(p.commands[3].name, "+FCLASS");
  EXPECT_EQ(p.commands[3].op, TAtOp::Set);
  EXPECT_EQ(p.commands[3].arg, "1");
  EXPECT_EQ(p.commands[4].op, TAtOp::Test);
  EXPECT_EQ(p.commands[4].text, "+FTM=?");
}

TEST(AtParser, DialTakesTheRestOfTheLineAndQuotesProtectSemicolons) {
  TAtParse p = ParseAtLine("&FDT9,W200;");
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(p.commands.size(), 2u);
  EXPECT_EQ(p.commands[0].name, "&F");
  EXPECT_EQ(p.commands[1].kind, TAtKind::Dial);
  EXPECT_EQ(p.commands[1].arg, "T9,W200;");
  TAtParse q = ParseAtLine("+FLID=\"A;B\";+FCR=1");
  ASSERT_TRUE(q.ok);
  ASSERT_EQ(q.commands.size(), 2u);
  EXPECT_EQ(q.commands[0].arg, "\"A;B\"");
  EXPECT_EQ(q.commands[1].name, "+FCR");
}

TEST(AtParser, RejectsMalformedLines) {
  EXPECT_FALSE(ParseAtLine("+").ok);
  EXPECT_FALSE(ParseAtLine("S=5").ok);
  EXPECT_FALSE(ParseAtLine("+FLID=\"open").ok);
  EXPECT_FALSE(ParseAtLine("&").ok);
  EXPECT_FALSE(ParseAtLine("S1234567890=1").ok);
  EXPECT_FALSE(ParseAtLine("?").ok);  // no register selected
  EXPECT_FALSE(ParseAtLine(std::string(300, 'E')).ok);
  EXPECT_FALSE(ParseAtLine("E0#").ok);
  TAtParse sel = ParseAtLine("S7?");
  ASSERT_TRUE(sel.ok);
  EXPECT_EQ(sel.commands[0].op, TAtOp::Read);
}

TEST(AtParser, DialDigitsDropShapingCharacters) {
  bool pulse = false;
  EXPECT_EQ(DialDigits("T9,W(555) 200-1;", pulse), "95552001");
  EXPECT_FALSE(pulse);
  EXPECT_EQ(DialDigits("P*70@#", pulse), "*70#");
  EXPECT_TRUE(pulse);
}

TEST(ControlParser, AcceptsTheDocumentedCommands) {
  std::string e;
  auto busy = ParseControl("busy 200 on", e);
  ASSERT_TRUE(busy);
  EXPECT_EQ(busy->verb, TControlVerb::Busy);
  EXPECT_TRUE(busy->on);
  auto hang = ParseControl("hangup 101 1500", e);
  ASSERT_TRUE(hang);
  EXPECT_EQ(hang->delayMs, 1500);
  auto imp = ParseControl("impair attenuation 6 snr 20 delay 30", e);
  ASSERT_TRUE(imp);
  EXPECT_EQ(imp->attenuationDb, 6);
  EXPECT_EQ(imp->snrDb, 20);
  EXPECT_EQ(imp->lineDelayMs, 30);
  EXPECT_FALSE(imp->noiseDbm0);
  auto send = ParseControl("send 101 /tmp/a.tif", e);
  ASSERT_TRUE(send);
  EXPECT_EQ(send->file, "/tmp/a.tif");
}

TEST(ControlParser, RejectsBadInput) {
  std::string e;
  EXPECT_FALSE(ParseControl("", e));
  EXPECT_FALSE(ParseControl("busy 200", e));
  EXPECT_FALSE(ParseControl("busy 2x0 on", e));
  EXPECT_FALSE(ParseControl("hangup 101 -5", e));
  EXPECT_FALSE(ParseControl("impair noise", e));
  EXPECT_FALSE(ParseControl("impair noise loud", e));
  EXPECT_FALSE(ParseControl("impair noise 1e300", e));
  EXPECT_FALSE(ParseControl("impair volume 3", e));
  EXPECT_FALSE(ParseControl("reboot", e));
  EXPECT_FALSE(e.empty());
}

TEST(Class2Params, PartialSetsKeepTheRestAndClampToWhatIsOffered) {
  TSessionParams p;
  ASSERT_TRUE(p.Parse("0,3"));
  EXPECT_EQ(p.Text(), "0,3,0,2,0,0,0,0");
  ASSERT_TRUE(p.Parse("1,9,0,2,1,2,0,7"));
  EXPECT_EQ(p.Text(), "1,5,0,2,1,0,0,7");  // no ECM, 14400 at most
  ASSERT_TRUE(p.Parse(",,1"));
  EXPECT_EQ(p.wd, 1);
  EXPECT_FALSE(p.Parse("1,2,3,4,5,6,7,8,9"));
  EXPECT_FALSE(p.Parse("x"));
  EXPECT_EQ(p.Text(), "1,5,1,2,1,0,0,7");  // a failed set changes nothing
}

TEST(Class2Frames, DcsCarriesWhatWasNegotiated) {
  for (int br = 0; br <= 5; ++br) {
    for (int vr = 0; vr <= 1; ++vr) {
      TSessionParams p;
      p.br = br;
      p.vr = vr;
      p.st = 0;
      TSessionParams back = ReadDisOrDcs(MakeDcs(p), true);
      EXPECT_EQ(back.br, br);
      EXPECT_EQ(back.vr, vr);
      EXPECT_EQ(back.st, 0);
    }
  }
  TSessionParams caps;
  caps.br = 3;
  EXPECT_EQ(ReadDisOrDcs(MakeDis(caps), false).br, 3);
  caps.br = 5;
  EXPECT_EQ(ReadDisOrDcs(MakeDis(caps), false).br, 5);
  // 9600 is DCS speed bits 0x04, 14400 is 0x20.
  caps.br = 3;
  EXPECT_EQ(MakeDcs(caps)[1] & 0x3C, 0x04);
  caps.br = 5;
  EXPECT_EQ(MakeDcs(caps)[1] & 0x3C, 0x20);
}

// The modem's DIS and DCS read by T.30's tables, not by the modem's own
// reader: every speed, both resolutions, every width and length; and the
// DCS a V.17 sender uses at 7200 and 9600 read back at its own speed.
TEST(Class2Frames, DisAndDcsFollowT30) {
  for (int br = 0; br <= 5; ++br) {
    for (int vr = 0; vr <= 1; ++vr) {
      for (int wd = 0; wd <= 2; ++wd) {
        for (int ln = 0; ln <= 2; ++ln) {
          TSessionParams p;
          p.br = br;
          p.vr = vr;
          p.wd = wd;
          p.ln = ln;
          const auto dcs = MakeDcs(p);
          const t30::TRate* rate = t30::DcsRate(dcs[1]);
          ASSERT_NE(rate, nullptr) << br;
          EXPECT_EQ(rate->bps, BitRateOf(br));
          EXPECT_EQ(rate, t30::SendRate(BitRateOf(br))) << br;
          EXPECT_EQ((dcs[1] & t30::kFineBit) != 0, vr == 1);
          EXPECT_EQ(t30::WidthOf(dcs[2]), wd);
          EXPECT_EQ(t30::LengthOf(dcs[2]), ln);
          const auto dis = MakeDis(p);
          EXPECT_EQ(t30::DisHighestBps(dis[1]), br == 4 ? 14400 : br == 2 ? 9600 : BitRateOf(br)) << br;
          EXPECT_EQ(t30::LengthOf(dis[2]), ln);
          EXPECT_EQ(t30::WidthOf(dis[2]), wd);
        }
      }
    }
  }
  for (const t30::TRate& r : t30::Rates()) {
    const std::vector<uint8_t> dcs{0x00, static_cast<uint8_t>(0x02 | r.dcsBits), 0x00, 0x00};
    EXPECT_EQ(BitRateOf(ReadDisOrDcs(dcs, true).br), r.bps) << int(r.dcsBits);
  }
}

TEST(Class2Frames, StationIdsGoLastCharacterFirst) {
  auto fif = MakeIdFrame("ABC");
  ASSERT_EQ(fif.size(), 20u);
  // The padding goes last, as the most significant positions: receivers
  // read "ABC", not "ABC" followed by 17 spaces.
  EXPECT_EQ(std::string(fif.begin(), fif.end()), "CBA" + std::string(17, ' '));
  EXPECT_EQ(ReadIdFrame(fif), "ABC");
  EXPECT_EQ(ReadIdFrame(MakeIdFrame("+1 555 0200")), "+1 555 0200");
  std::vector<uint8_t> junk{0x00, 0x22, 0xFF, 'X'};
  EXPECT_EQ(ReadIdFrame(junk), "X");
  EXPECT_EQ(ReadIdFrame({'A', 0x22, 'B'}), "B A");
  EXPECT_EQ(Reverse(0x01), 0x80);
  EXPECT_EQ(Reverse(0x12), 0x48);
}
