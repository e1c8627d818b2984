// The Class 1 receive machine against a scripted modem on a pseudo-terminal:
// frames and training checks no line test produces on demand (hostile
// frames, a check sum error, a DCS for a modulation never offered, a frame
// without its end, a training that fails at 2400) and what the machine sends
// back.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include <sys/resource.h>
#include <string>
#include <vector>

#include "faxengine/class1/Frames.h"
#include "faxengine/port/ComDevice.h"
#include "faxengine/port/ComPort.h"
#include "faxengine/session/AbstractFax.h"
#include "faxengine/session/FaxCodes.h"
#include "faximage/Apf.h"
#include "faximage/FaxUnpacker.h"
#include "testsupport/ScriptedModem.h"

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

namespace {

// A frame as a Class 1 modem delivers it: address, control, FCF, FIF and two
// check-sum bytes, data DLEs doubled, then DLE ETX.
std::string ModemFrame(uint8_t fcf, bool final, const Bytes& fif) {
  Bytes raw{0xFF, static_cast<uint8_t>(final ? 0x13 : 0x03), fcf};
  raw.insert(raw.end(), fif.begin(), fif.end());
  const uint16_t fcs = FxFcs(raw.data(), raw.size());
  raw.push_back(static_cast<uint8_t>(fcs & 0xFF));
  raw.push_back(static_cast<uint8_t>(fcs >> 8));
  std::string out;
  for (uint8_t b : raw) {
    if (b == 0x10) out += '\x10';
    out += static_cast<char>(b);
  }
  return out + "\x10\x03";
}

// The modem's answers to AT+FRH=3 for a burst of frames: one frame per
// command, each followed by OK (ERROR for a bad check sum).
using TReplies = std::vector<std::string>;
TReplies Burst(const std::vector<std::string>& frames, const char* result = "OK") {
  TReplies out;
  for (const auto& f : frames) out.push_back("\r\nCONNECT\r\n" + f + "\r\n" + result + "\r\n");
  return out;
}
TReplies Join(std::initializer_list<TReplies> parts) {
  TReplies out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes DcsFif(uint8_t speedBits, bool fine = false) {
  return {0x00, static_cast<uint8_t>((fine ? 0x42 : 0x02) | speedBits), 0x70 | 0x80, 0x00};
}

// A training check of n bytes: `lead` settling bytes at its start, then
// zeros with every `every`-th byte spoiled.
std::string Tcf(size_t n, size_t lead, size_t every = 0) {
  std::string out(n, '\0');
  for (size_t i = 0; i < n; ++i)
    if (i < lead || (every > 0 && i % every == every / 2)) out[i] = '\x55';
  return "\r\nCONNECT\r\n" + out + "\x10\x03\r\nNO CARRIER\r\n";
}

// A frame the machine wrote, as the modem took it.
struct TSentFrame {
  uint8_t fcf = 0;
  bool final = false;
  Bytes fif;
};

// Plays a Class 1 modem. Commands get the script's reply for the n-th
// AT+FRH=3 or AT+FRM= (counted separately); frames written after CONNECT
// are recorded.
class TClass1Modem {
 public:
  struct TScript {
    std::vector<std::string> frh;  // replies to AT+FRH=3, in order; then silence
    std::vector<std::string> frm;  // replies to AT+FRM=, in order; then silence
  };
  TClass1Modem(TPty& pty, TScript script)
      : script_(std::move(script)), modem_(pty, [this](const std::string& c) { return Reply(c); }) {}
  void Ring() { modem_.Write("\r\nRING\r\n"); }
  std::vector<TSentFrame> Frames() const {
    std::vector<TSentFrame> out;
    for (const Bytes& frame : modem_.Frames()) {
      TSentFrame f;
      if (frame.size() >= 3) {
        f.final = frame[1] == 0x13;
        f.fcf = frame[2];
        f.fif.assign(frame.begin() + 3, frame.end());
      }
      out.push_back(f);
    }
    return out;
  }
  std::vector<std::string> Commands() const { return modem_.Commands(); }
  bool Sent(uint8_t fcf) const {
    for (const auto& f : Frames())
      if (f.fcf == fcf) return true;
    return false;
  }

 private:
  TScriptedModem::TAnswer Reply(const std::string& cmd) {
    if (cmd == "AT+FRM=?") return "\r\n24,48,72,73,74,96,97,98,121,122,145,146\r\nOK\r\n";
    if (cmd == "ATA" || cmd == "AT+FTH=3") return {"\r\nCONNECT\r\n", TScriptedModem::TNext::Frames};
    if (cmd == "AT+FRH=3") return frh_ < script_.frh.size() ? script_.frh[frh_++] : std::string();
    if (cmd.rfind("AT+FRM=", 0) == 0) return frm_ < script_.frm.size() ? script_.frm[frm_++] : std::string();
    return "\r\nOK\r\n";
  }

  // Used on the modem's thread only.
  TScript script_;
  size_t frh_ = 0, frm_ = 0;
  TScriptedModem modem_;  // last: its thread calls Reply
};

constexpr uint8_t kTsi = 0x43, kDcs = 0x83, kEop = 0x2F, kMps = 0x4F, kDcn = 0xFB;
constexpr uint8_t kCsi = 0x40, kDis = 0x80, kCfr = 0x84, kFtt = 0x44, kMcf = 0x8C;

Bytes Id(const std::string& id) { return FxEncodeId(id); }

// Page data as the modem delivers it: a DLE doubled, then DLE ETX.
const std::string kPage = std::string("\x00\x80\x01\x10\x10\x42\x00\x80", 8) + "\x10\x03\r\nNO CARRIER\r\n";
const Bytes kPageStored{0x00, 0x80, 0x01, 0x10, 0x42, 0x00, 0x80};

class Class1Scripted : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLockFolder(locks_.Path());
    ASSERT_FALSE(pty_.SlavePath().empty());
    port_.SetHostExecutor(&exec_);
    port_.SetDeviceName(pty_.SlavePath());
    port_.SetComNumber(1);
    port_.SetPromptForPort(false);
    fax_.SetComPort(&port_);
    port_.SetHWFlowOptions(0);
    fax_.FaxClass = TFaxClass::fcClass1;
    fax_.DesiredBPS = 9600;
    fax_.SetStationID("ABC");
    fax_.OneFax = true;
    fax_.DestinationDir = locks_.Path().string();
    fax_.OnFaxError = [this](TFxAbstractFax&, int code) { errors_.push_back(code); };
  }
  void TearDown() override { SetLockFolder({}); }

  int Run(TClass1Modem& modem, std::chrono::seconds limit = 60s) {
    bool done = false;
    int code = 1;
    fax_.OnFaxFinish = [&](TFxAbstractFax&, int c) {
      code = c;
      done = true;
    };
    port_.SetOpen(true);
    fax_.StartReceive();
    EXPECT_TRUE(exec_.RunUntil([&] { return fax_.ProgressCode() == fxprogress::fpWaiting || done; }, 20s));
    modem.Ring();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(exec_.RunUntil([&] { return done; }, limit)) << "session did not end";
    elapsed_ = std::chrono::steady_clock::now() - start;
    return code;
  }

  Bytes StoredPage(unsigned n) {
    TFxApfReader r;
    Bytes data;
    if (r.Open(locks_.Path() / "FAX0001.APF") != 0) return data;
    ApfPageHeader ph;
    r.ReadPageData(n, ph, [&](const uint8_t* d, size_t size, uint64_t, uint64_t) {
      data.insert(data.end(), d, d + size);
      return true;
    });
    return data;
  }

  TTempFolder locks_;
  TPty pty_;
  TPlainExecutor exec_;
  TFxComPort port_;
  TFxReceiveFax fax_;
  std::vector<int> errors_;
  std::chrono::steady_clock::duration elapsed_{};
};

}  // namespace

// A caller that starts with junk (an unknown FCF, an over-long TSI, a frame
// with a bad control byte, one too short, one with a bad check sum), then asks
// for 14400 although the DIS offered 9600, and finally sends at 9600.
TEST_F(Class1Scripted, HostileFramesAndATooFastDcsStillEndInTheFax) {
  std::string overLongTsi = ModemFrame(kTsi, false, Bytes(300, 'X'));
  TClass1Modem modem(pty_, {Join({
      Burst({ModemFrame(0x23, false, Bytes(40, 0xA5)), overLongTsi,
             std::string("\xFF\x07\x43zz\x10\x03", 7), std::string("\xFF\x13\x10\x03", 4),
             ModemFrame(kTsi, false, Id("+49 30 555")), ModemFrame(kDcs, true, DcsFif(0x20))}),
      Burst({ModemFrame(kDcs, true, DcsFif(0x04))}, "ERROR"),
      Burst({ModemFrame(kDcs, true, DcsFif(0x04, true))}),
      Burst({ModemFrame(kEop, true, {})}),
      Burst({ModemFrame(kDcn, true, {})}),
  }), {Tcf(2592, 0), Tcf(1728, 80), "\r\nCONNECT\r\n" + kPage}});
  EXPECT_EQ(Run(modem), 0);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(fax_.RemoteID(), "+49 30 555");
  EXPECT_EQ(fax_.ConnectBPS(), 9600);
  EXPECT_TRUE(fax_.ConnectFine());

  const auto frames = modem.Frames();
  ASSERT_EQ(frames.size(), 5u);
  // CSI: the ID last character first, then 17 spaces; DIS: fine, up to
  // 9600 on V.27ter and V.29, both widths, A4 and B4, no scan time.
  EXPECT_EQ(frames[0].fcf, kCsi);
  EXPECT_FALSE(frames[0].final);
  Bytes csi{'C', 'B', 'A'};
  csi.resize(20, ' ');
  EXPECT_EQ(frames[0].fif, csi);
  EXPECT_EQ(frames[1].fcf, kDis);
  EXPECT_TRUE(frames[1].final);
  EXPECT_EQ(frames[1].fif, (Bytes{0x00, 0x4E, 0xF9, 0x00}));
  // 14400 refused although its check was clean; the 9600 check with 5%
  // settling bytes at its start passes.
  EXPECT_EQ(frames[2].fcf, kFtt);
  EXPECT_EQ(frames[3].fcf, kCfr);
  EXPECT_EQ(frames[4].fcf, kMcf);
  EXPECT_TRUE(frames[4].final);

  const auto cmds = modem.Commands();
  EXPECT_NE(std::find(cmds.begin(), cmds.end(), "AT+FRM=145"), cmds.end());
  EXPECT_NE(std::find(cmds.begin(), cmds.end(), "AT+FRM=96"), cmds.end());
  EXPECT_NE(std::find(cmds.begin(), cmds.end(), "ATH"), cmds.end());
  EXPECT_EQ(StoredPage(1), kPageStored);
}

// MPS keeps the speed: the next page follows at once in the same file.
TEST_F(Class1Scripted, MpsPagesGoIntoOneFile) {
  TClass1Modem modem(pty_, {Join({
      Burst({ModemFrame(kDcs, true, DcsFif(0x08))}),
      Burst({ModemFrame(kMps, true, {})}),
      Burst({ModemFrame(kEop, true, {})}),
      Burst({ModemFrame(kDcn, true, {})}),
  }), {Tcf(864, 0), "\r\nCONNECT\r\n" + kPage, "\r\nCONNECT\r\n" + kPage}});
  EXPECT_EQ(Run(modem), 0);
  TFxApfReader r;
  ASSERT_EQ(r.Open(locks_.Path() / "FAX0001.APF"), 0);
  EXPECT_EQ(r.PageCount(), 2);
  EXPECT_EQ(StoredPage(2), kPageStored);
  EXPECT_EQ(fax_.ConnectBPS(), 4800);
}

TEST_F(Class1Scripted, ADcsForAModulationNeverOfferedIsIncompatible) {
  TClass1Modem modem(pty_, {Burst({ModemFrame(kDcs, true, DcsFif(0x30))}), {}});
  EXPECT_EQ(Run(modem), fxcode::ecFaxBadMachine);
  EXPECT_EQ(errors_, std::vector<int>{fxcode::ecFaxBadMachine});
}

TEST_F(Class1Scripted, ADcsTooShortToReadIsIncompatible) {
  TClass1Modem modem(pty_, {Burst({ModemFrame(kDcs, true, {0x00})}), {}});
  EXPECT_EQ(Run(modem), fxcode::ecFaxBadMachine);
}

TEST_F(Class1Scripted, DcnInsteadOfDcsEndsWithCancel) {
  TClass1Modem modem(pty_, {Burst({ModemFrame(kDcn, true, {})}), {}});
  EXPECT_EQ(Run(modem), fxcode::ecCancelRequested);
  EXPECT_EQ(errors_.size(), 1u);
}

// The training check fails at every speed down to 2400 (2% errors scattered
// over it, 23% at its start, 4% scattered): FTT each time, and after the one
// at 2400 the session ends with "Modems failed to train".
TEST_F(Class1Scripted, TrainingThatFailsAt2400EndsWithTrainError) {
  TClass1Modem modem(pty_, {Join({
      Burst({ModemFrame(kDcs, true, DcsFif(0x04))}),
      Burst({ModemFrame(kDcs, true, DcsFif(0x08))}),
      Burst({ModemFrame(kDcs, true, DcsFif(0x00))}),
  }), {Tcf(1728, 0, 50), Tcf(864, 200), Tcf(432, 0, 25)}});
  EXPECT_EQ(Run(modem), fxcode::ecFaxTrainError);
  EXPECT_EQ(errors_, std::vector<int>{fxcode::ecFaxTrainError});
  int ftt = 0;
  for (const auto& f : modem.Frames()) ftt += f.fcf == kFtt;
  EXPECT_EQ(ftt, 3);
  EXPECT_FALSE(modem.Sent(kCfr));
}

// A frame that never ends (no DLE ETX) and then silence: the machine asks
// again with CSI and DIS three times and gives up with a time-out.
TEST_F(Class1Scripted, AFrameWithoutItsEndTimesOutAfterThreeRetries) {
  std::string endless = "\r\nCONNECT\r\n\xFF\x13\x83";
  endless += std::string(600, '\x42');
  TClass1Modem modem(pty_, {{endless}, {}});
  EXPECT_EQ(Run(modem, 90s), fxcode::ecTimeout);
  int dis = 0;
  for (const auto& f : modem.Frames()) dis += f.fcf == kDis;
  EXPECT_EQ(dis, 4);
  EXPECT_LT(elapsed_, 60s);
}

// No training check ever comes after the DCS: it is refused like a bad one.
TEST_F(Class1Scripted, AMissingTrainingCheckIsAnsweredWithFtt) {
  TClass1Modem modem(pty_, {Burst({ModemFrame(kDcs, true, DcsFif(0x00))}), {}});
  EXPECT_EQ(Run(modem), fxcode::ecFaxTrainError);
  EXPECT_TRUE(modem.Sent(kFtt));
}

TEST_F(Class1Scripted, ACancelDuringThePauseAfterTheDisIsTakenAtOnce) {
  // After CSI and DIS the receiver waits before it listens for the caller's
  // frames: a cancel then ends the wait, and AT+FRH=3 is never sent.
  TClass1Modem modem(pty_, {});
  std::chrono::steady_clock::time_point disAt{}, asked{}, taken{};
  const std::chrono::steady_clock::time_point never{};
  fax_.OnFaxError = [&](TFxAbstractFax&, int code) {
    if (code == fxcode::ecCancelRequested && taken == never) taken = std::chrono::steady_clock::now();
  };
  bool done = false;
  int code = 1;
  fax_.OnFaxFinish = [&](TFxAbstractFax&, int c) {
    code = c;
    done = true;
  };
  port_.SetOpen(true);
  fax_.StartReceive();
  ASSERT_TRUE(exec_.RunUntil([&] { return fax_.ProgressCode() == fxprogress::fpWaiting || done; }, 20s));
  modem.Ring();
  EXPECT_TRUE(exec_.RunUntil(
      [&] {
        const auto now = std::chrono::steady_clock::now();
        if (disAt == never && modem.Sent(kDis)) disAt = now;
        if (asked == never && disAt != never && now - disAt > 60ms) {
          asked = now;
          fax_.AbortFax();
        }
        return done;
      },
      40s));
  EXPECT_EQ(code, fxcode::ecCancelRequested);
  ASSERT_NE(asked, never);
  ASSERT_NE(taken, never);
  EXPECT_LT(taken - asked, 50ms);
  const auto cmds = modem.Commands();
  EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "AT+FRH=3"), 0);
}

// The call is cancelled during page 2: while the page arrives its bytes are
// counted, and afterwards the file holds page 1 alone, whole, with nothing
// of the cut-off page after it; the sender was never told page 2 arrived.
TEST_F(Class1Scripted, APageCutOffByACancelIsNotKept) {
  constexpr size_t kPartial = 5000;
  TClass1Modem modem(pty_, {Join({
      Burst({ModemFrame(kDcs, true, DcsFif(0x08))}),
      Burst({ModemFrame(kMps, true, {})}),
  }), {Tcf(864, 0), "\r\nCONNECT\r\n" + kPage, "\r\nCONNECT\r\n" + std::string(kPartial, '\x42')}});
  bool done = false;
  int code = 0;
  fax_.OnFaxFinish = [&](TFxAbstractFax&, int c) {
    code = c;
    done = true;
  };
  port_.SetOpen(true);
  fax_.StartReceive();
  ASSERT_TRUE(exec_.RunUntil([&] { return fax_.ProgressCode() == fxprogress::fpWaiting || done; }, 20s));
  EXPECT_EQ(fax_.BytesTransferred(), 0);
  modem.Ring();
  EXPECT_TRUE(exec_.RunUntil(
      [&] { return done || (fax_.CurrentPage() == 2 && fax_.BytesTransferred() == static_cast<long>(kPartial)); }, 30s))
      << "bytes counted: " << fax_.BytesTransferred();
  ASSERT_FALSE(done);
  fax_.AbortFax();
  ASSERT_TRUE(exec_.RunUntil([&] { return done; }, 30s));
  EXPECT_NE(code, 0);
  const auto frames = modem.Frames();
  EXPECT_EQ(std::count_if(frames.begin(), frames.end(), [](const TSentFrame& f) { return f.fcf == kMcf; }), 1);
  TFxApfReader r;
  ASSERT_EQ(r.Open(locks_.Path() / "FAX0001.APF"), 0);
  EXPECT_EQ(r.PageCount(), 1);
  EXPECT_EQ(StoredPage(1), kPageStored);
  EXPECT_EQ(fs::file_size(locks_.Path() / "FAX0001.APF"), kApfFileHeaderSize + kApfPageHeaderSize + kPageStored.size());
}

// A DCS for a page 2432 pixels wide, which the DIS never offered: the call is
// refused as with an incompatible machine, before any training or page, and
// no file is made.
TEST_F(Class1Scripted, ADcsForAWidthNeverOfferedIsIncompatible) {
  TClass1Modem modem(pty_, {Burst({ModemFrame(kDcs, true, {0x00, 0x0A, 0xF2, 0x00})}), {Tcf(864, 0)}});
  EXPECT_EQ(Run(modem), fxcode::ecFaxBadMachine);
  EXPECT_FALSE(modem.Sent(kCfr));
  EXPECT_FALSE(fs::exists(locks_.Path() / "FAX0001.APF"));
}

// Control bytes in the caller's ID (a bell, an escape sequence, a line break)
// never reach the component's ID or the stored file's header.
TEST_F(Class1Scripted, ControlBytesInTheCallersIdAreDropped) {
  TClass1Modem modem(pty_, {Join({
      Burst({ModemFrame(kTsi, false, Id(std::string("A\a\x1b[2J\r\nB\x7f\x01Z", 12))),
             ModemFrame(kDcs, true, DcsFif(0x08))}),
      Burst({ModemFrame(kEop, true, {})}),
      Burst({ModemFrame(kDcn, true, {})}),
  }), {Tcf(864, 0), "\r\nCONNECT\r\n" + kPage}});
  EXPECT_EQ(Run(modem), 0);
  EXPECT_EQ(fax_.RemoteID(), "A[2JBZ");
  TFxApfReader r;
  ASSERT_EQ(r.Open(locks_.Path() / "FAX0001.APF"), 0);
  for (char c : r.Header().stationId) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << static_cast<int>(c);
  EXPECT_EQ(r.Header().stationId.substr(0, 6), "A[2JBZ");
}

// A caller that sends nothing but junk frames (checked and unchecked, any
// control field, random contents) and never a DCS: the session ends by
// itself with an error, no file is made and nothing crashes.
TEST_F(Class1Scripted, OnlyGarbageFramesEndTheCall) {
  std::mt19937 random(1717);
  std::vector<std::string> frames;
  for (int i = 0; i < 40; ++i) {
    uint8_t fcf = static_cast<uint8_t>(random());
    const auto kind = FxFrameKind(fcf);
    if (kind == TFxFrameKind::fkDCS || kind == TFxFrameKind::fkDCN) fcf = 0x23;
    Bytes fif(random() % 64);
    for (auto& b : fif) b = static_cast<uint8_t>(random());
    switch (i % 4) {
      case 0: frames.push_back(ModemFrame(fcf, i % 8 == 0, fif)); break;
      case 1: frames.push_back(std::string("\xFF", 1) + std::string(fif.begin(), fif.end()) + "\x10\x03"); break;
      case 2: frames.push_back(std::string(fif.begin(), fif.end())); break;
      default: frames.push_back("\x10\x03"); break;
    }
  }
  TClass1Modem modem(pty_, {Join({Burst(frames), Burst(frames, "ERROR")}), {}});
  const int code = Run(modem, 120s);
  EXPECT_NE(code, 0);
  EXPECT_LT(elapsed_, 100s);
  EXPECT_FALSE(modem.Sent(kCfr));
  EXPECT_FALSE(fs::exists(locks_.Path() / "FAX0001.APF"));
}

// A page 10,000 rows long (all white, one-dimensional coding) is taken
// whole, and reading it back row by row keeps memory bounded.
TEST_F(Class1Scripted, APageOfTenThousandRowsIsTakenWhole) {
  constexpr int kRows = 10000;
  // EOL, white make-up 1728, white terminating 0: 29 bits a row, sent
  // least significant bit first.
  const std::string rowBits = "000000000001" "010011011" "00110101";
  std::string bits;
  for (int r = 0; r < kRows; ++r) bits += rowBits;
  for (int e = 0; e < 6; ++e) bits += "000000000001";
  std::string data;
  for (size_t i = 0; i < bits.size(); i += 8) {
    uint8_t b = 0;
    for (size_t k = 0; k < 8 && i + k < bits.size(); ++k)
      if (bits[i + k] == '1') b = static_cast<uint8_t>(b | (1u << k));
    if (b == 0x10) data += '\x10';
    data += static_cast<char>(b);
  }
  TClass1Modem modem(pty_, {Join({
      Burst({ModemFrame(kDcs, true, DcsFif(0x08))}),
      Burst({ModemFrame(kEop, true, {})}),
      Burst({ModemFrame(kDcn, true, {})}),
  }), {Tcf(864, 0), "\r\nCONNECT\r\n" + data + "\x10\x03\r\nNO CARRIER\r\n"}});
  EXPECT_EQ(Run(modem), 0);
  EXPECT_TRUE(errors_.empty());

  rusage before{};
  ::getrusage(RUSAGE_SELF, &before);
  TFxFaxUnpacker u;
  u.SetInFileName((locks_.Path() / "FAX0001.APF").string());
  ASSERT_EQ(u.PageCount(), 1u);
  int rows = 0, black = 0;
  u.OnOutputLine = [&](TFxFaxUnpacker&, bool starting, bool ending, const uint8_t* line, unsigned len, unsigned) {
    if (starting || ending || !line) return;
    ++rows;
    black += static_cast<int>(std::count_if(line, line + len, [](uint8_t b) { return b != 0; }));
  };
  u.UnpackPage(1);
  rusage after{};
  ::getrusage(RUSAGE_SELF, &after);
  EXPECT_EQ(rows, kRows);
  EXPECT_EQ(black, 0);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "KiB more at the peak";
}
