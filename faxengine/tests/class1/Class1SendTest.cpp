// The Class 1 send machine against a scripted Class 1 modem on a
// pseudo-terminal: the script plays the modem (T.31 command answers, frames
// between CONNECT and OK) and the remote machine behind it, so that the
// negotiation, the fall-back and the failures the real line cannot produce
// on demand are checked frame by frame.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

#include "faxengine/class1/Frames.h"
#include "faxengine/port/ComDevice.h"
#include "faxengine/port/ComPort.h"
#include "faxengine/session/AbstractFax.h"
#include "faxengine/session/FaxCodes.h"
#include "faximage/Apf.h"
#include "faximage/FaxConverter.h"
#include "testsupport/ScriptedModem.h"

using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;

// What the engine sent: commands and frames in order.
struct TSent {
  std::string command;  // empty for a frame
  TFxFrame frame;
  std::string Kind() const { return command.empty() ? FxFrameKindName(frame.Kind()) : command; }
};

// The remote machine's answers: called for each AT+FRH=3 with the frames the
// engine sent so far; returns the frames to deliver (each with its final bit)
// or nothing, which leaves the modem listening until the engine gives up.
using TRemote = std::function<std::vector<Bytes>(const std::vector<TSent>& sent, int frh)>;

Bytes Frame(TFxFcf fcf, bool final, const Bytes& fif = {}) {
  Bytes f;
  f.reserve(3 + fif.size());
  f.push_back(0xFF);
  f.push_back(final ? 0x13 : 0x03);
  f.push_back(static_cast<uint8_t>(fcf));
  for (uint8_t b : fif) f.push_back(b);
  return f;
}
Bytes Frame(uint8_t fcf, bool final, const Bytes& fif = {}) { return Frame(static_cast<TFxFcf>(fcf), final, fif); }

// A T.31 modem: commands, frames after AT+FTH=3, data after AT+FTM=; the
// remote's frames are delivered one per AT+FRH=3.
class TClass1Modem {
 public:
  TClass1Modem(TPty& pty, TRemote remote, std::string speeds = "24,48,72,73,74,96,97,98,121,122,145,146")
      : remote_(std::move(remote)),
        speeds_(std::move(speeds)),
        modem_(pty, [this](const std::string& c) { return Command(c); }) {}
  // Commands (a bare CR, which ends a reception, is none), frames and the
  // ends of page data ("DLE ETX"), in order.
  std::vector<TSent> Sent() const {
    std::vector<TSent> out;
    for (const auto& e : modem_.Log()) {
      if (e.kind == TScriptedModem::TKind::DataEnd) out.push_back({"DLE ETX", {}});
      if (e.kind != TScriptedModem::TKind::Frame) {
        if (!e.command.empty()) out.push_back({e.command, {}});
        continue;
      }
      TSent s;
      s.frame.control = e.frame.size() > 1 ? e.frame[1] : 0;
      s.frame.fcf = e.frame.size() > 2 ? e.frame[2] : 0;
      if (e.frame.size() > 3) s.frame.fif.assign(e.frame.begin() + 3, e.frame.end());
      out.push_back(s);
    }
    return out;
  }
  // DCS frames sent, and the AT+FTM= codes, in order.
  std::vector<TFxDcsInfo> Dcs() const {
    std::vector<TFxDcsInfo> out;
    for (const auto& s : Sent())
      if (s.command.empty() && s.frame.Kind() == TFxFrameKind::fkDCS) {
        TFxDcsInfo d;
        EXPECT_TRUE(FxDecodeDcs(s.frame.fif, d));
        out.push_back(d);
      }
    return out;
  }
  std::vector<std::string> TrainCodes() const {
    std::vector<std::string> out;
    for (const auto& s : Sent())
      if (s.command.rfind("AT+FTM=", 0) == 0 && s.command != "AT+FTM=?") out.push_back(s.command.substr(7));
    return out;
  }
  int Count(const std::string& kind) const {
    int n = 0;
    for (const auto& s : Sent()) n += s.Kind() == kind;
    return n;
  }
  size_t DataBytes() const { return modem_.dataBytes; }

 private:
  using TAnswer = TScriptedModem::TAnswer;
  using TNext = TScriptedModem::TNext;
  // The frames of a burst, each confirmed; after a non-final frame the
  // engine asks for the next one with AT+FRH=3. No frames: the modem
  // listens until the engine gives up.
  TAnswer Deliver(const std::vector<Bytes>& frames) {
    if (frames.empty()) return {"", TNext::Listen};
    pending_ = frames;
    return DeliverNext();
  }
  TAnswer DeliverNext() {
    // A one-byte entry asks for a check failure on the frame after it.
    if (!pending_.empty() && pending_.front().size() == 1) {
      errorNext_ = true;
      pending_.erase(pending_.begin());
    }
    if (pending_.empty()) return {};
    Bytes f = pending_.front();
    pending_.erase(pending_.begin());
    std::string out = "\r\nCONNECT\r\n";
    for (uint8_t b : f) {
      if (b == 0x10) out += '\x10';
      out += static_cast<char>(b);
    }
    out += "\x10\x03";
    out += errorNext_ ? "\r\nERROR\r\n" : "\r\nOK\r\n";
    errorNext_ = false;
    return out;
  }
  TAnswer Command(const std::string& c) {
    if (c.empty()) return {};
    if (c == "AT+FTM=?") return "\r\n" + speeds_ + "\r\nOK\r\n";
    if (c.rfind("ATD", 0) == 0) {
      ++frh_;
      return Deliver(remote_(Sent(), 0));
    }
    if (c == "AT+FTH=3") return {"\r\nCONNECT\r\n", TNext::Frames};
    if (c.rfind("AT+FTM=", 0) == 0) return {"\r\nCONNECT\r\n", TNext::Data};
    if (c == "AT+FRH=3") {
      if (!pending_.empty()) return DeliverNext();
      const int n = frh_++;
      return Deliver(remote_(Sent(), n));
    }
    return "\r\nOK\r\n";
  }

  // Used on the modem's thread only.
  TRemote remote_;
  std::string speeds_;
  std::vector<Bytes> pending_;
  int frh_ = 0;
  bool errorNext_ = false;
  TScriptedModem modem_;  // last: its thread calls Command
};

// The frames last sent by the engine, newest first.
const TSent* LastFrame(const std::vector<TSent>& sent) {
  for (auto it = sent.rbegin(); it != sent.rend(); ++it)
    if (it->command.empty()) return &*it;
  return nullptr;
}

const Bytes kDis14400 = {0x00, 0x6E, 0x79, 0x00};

// A well-behaved remote: CSI and DIS on the call and again after answering
// EOM (whatever the answer: it refuses, with DCN, a DCS that comes before),
// CFR after every training, MCF after every page, and what `change` returns
// in place of any of these answers.
TRemote Remote(std::function<std::vector<Bytes>(TFxFrameKind last, int nth)> change = nullptr,
               Bytes dis = kDis14400, bool disAfterEom = true) {
  struct TState {
    std::map<TFxFrameKind, int> counts;
    size_t answered = 0;  // sent frames already answered
    bool eomAnswered = false;
  };
  auto st = std::make_shared<TState>();
  return [change, dis, disAfterEom, st](const std::vector<TSent>& sent, int frh) -> std::vector<Bytes> {
    const std::vector<Bytes> identify = {Frame(TFxFcf::CSI, false, FxEncodeId("REMOTE 1")),
                                         Frame(TFxFcf::DIS, true, dis)};
    if (frh == 0) return identify;
    size_t frames = 0;
    for (const auto& s : sent) frames += s.command.empty();
    const TSent* last = LastFrame(sent);
    if (frames == st->answered) {
      // Nothing new from the engine: the remote's own turn after EOM.
      if (st->eomAnswered && disAfterEom) {
        st->eomAnswered = false;
        return identify;
      }
      return {};
    }
    st->answered = frames;
    const TFxFrameKind kind = last ? last->frame.Kind() : TFxFrameKind::fkOther;
    if (st->eomAnswered && disAfterEom && kind == TFxFrameKind::fkDCS) return {Frame(TFxFcf::DCN, true)};
    const int nth = ++st->counts[kind];
    if (change) {
      auto answer = change(kind, nth);
      if (!answer.empty() && answer.front().empty()) return {};  // silence
      st->eomAnswered = kind == TFxFrameKind::fkEOM;
      if (!answer.empty()) return answer;
    }
    switch (kind) {
      case TFxFrameKind::fkDCS: return {Frame(TFxFcf::CFR, true)};
      case TFxFrameKind::fkEOM: st->eomAnswered = true; return {Frame(TFxFcf::MCF, true)};
      case TFxFrameKind::fkMPS: case TFxFrameKind::fkEOP: return {Frame(TFxFcf::MCF, true)};
      default: return {};
    }
  };
}
const std::vector<Bytes> kSilence = {Bytes{}};

class Class1Send : public ::testing::Test {
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
    fax_.SetPhoneNumber("200");
    fax_.SetStationID("ABC");
    fax_.DesiredBPS = 14400;
    fax_.OnFaxError = [this](TFxAbstractFax&, int code) { errors_.push_back(code); };
  }
  void TearDown() override { SetLockFolder({}); }

  void Document(int pages, bool fine = false, bool mixed = false) {
    std::vector<std::filesystem::path> parts;
    for (int p = 0; p < pages; ++p) {
      TFxFaxConverter c;
      c.SetOptions(0);
      c.Resolution = fine || (mixed && p == 1) ? TFaxResolution::frHigh : TFaxResolution::frNormal;
      c.OutFileName = (locks_.Path() / ("P" + std::to_string(p) + ".APF")).string();
      TFxBitmap page = TFxBitmap::MakeMono(1728, 60);
      for (unsigned y = 20; y < 40; ++y) page.Row(y)[10 + p] = 0x10;  // DLE bytes in the data
      EXPECT_EQ(c.TryConvertBitmap(page), 0);
      parts.push_back(c.OutFileName);
    }
    const auto doc = locks_.Path() / "DOC.APF";
    ASSERT_EQ(ApfConcatenate(parts, doc), 0);
    fax_.SetFaxFile(doc.string());
  }

  int Run(std::chrono::seconds limit = 60s, const std::function<void()>& whileRunning = nullptr) {
    bool done = false;
    int code = 1;
    fax_.OnFaxFinish = [&](TFxAbstractFax&, int c) {
      code = c;
      done = true;
    };
    port_.SetOpen(true);
    fax_.StartTransmit();
    EXPECT_TRUE(exec_.RunUntil(
        [&] {
          if (whileRunning) whileRunning();
          return done;
        },
        limit));
    return code;
  }

  // Sends two pages with EOM between them; the remote answers the first
  // EOM with `answer`. What the engine sent, as Kinds gives it.
  std::vector<std::string> TwoPagesWithFirstEomAnswered(TFxFcf answer) {
    Document(2);
    fax_.KeepPageParameters = false;
    TClass1Modem modem(pty_, Remote([answer](TFxFrameKind k, int nth) -> std::vector<Bytes> {
      if (k == TFxFrameKind::fkEOM && nth == 1) return {Frame(answer, true)};
      return {};
    }));
    EXPECT_EQ(Run(), 0);
    return Kinds(modem);
  }

  std::vector<std::string> Kinds(TClass1Modem& m) {
    std::vector<std::string> out;
    for (const auto& s : m.Sent())
      if (s.command.empty() || (s.command.rfind("AT+FTM=", 0) == 0 && s.command != "AT+FTM=?")) out.push_back(s.Kind());
    return out;
  }

  TTempFolder locks_;
  TPty pty_;
  TPlainExecutor exec_;
  TFxComPort port_;
  TFxSendFax fax_;
  std::vector<int> errors_;
};

}  // namespace

TEST_F(Class1Send, NegotiatesBelowTheDesiredSpeedAndSendsTwoPagesWithMps) {
  Document(2);
  fax_.DesiredBPS = 9600;
  fax_.KeepPageParameters = true;
  TClass1Modem modem(pty_, Remote());
  ASSERT_EQ(Run(), 0);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(fax_.RemoteID(), "REMOTE 1");
  EXPECT_EQ(fax_.ConnectBPS(), 9600);
  // TSI "ABC": the characters last first, then 17 spaces; one DCS at 9600
  // (V.29, bits 0x04); training and first page at "96", MPS, the next page
  // without a new training, EOP, DCN.
  const auto sent = modem.Sent();
  const auto tsi = std::find_if(sent.begin(), sent.end(), [](const TSent& s) {
    return s.command.empty() && s.frame.fcf == 0x43;
  });
  ASSERT_NE(tsi, sent.end());
  EXPECT_EQ(std::string(tsi->frame.fif.begin(), tsi->frame.fif.end()), "CBA" + std::string(17, ' '));
  EXPECT_FALSE(tsi->frame.Final());
  EXPECT_EQ(Kinds(modem), (std::vector<std::string>{"CSI", "DCS", "AT+FTM=96", "AT+FTM=96", "MPS", "AT+FTM=96", "EOP",
                                                    "DCN"}));
  const auto dcs = modem.Dcs();
  ASSERT_EQ(dcs.size(), 1u);
  EXPECT_EQ(dcs[0].speedIndex, 4);
  EXPECT_EQ(LastFrame(sent)->frame.fcf, 0xFB);
  EXPECT_EQ(modem.Count("ATH"), 1);
}

TEST_F(Class1Send, EachPageAfterEomGetsANewDcsAndTraining) {
  Document(3);
  fax_.KeepPageParameters = false;
  TClass1Modem modem(pty_, Remote());
  ASSERT_EQ(Run(), 0);
  // After each EOM the remote's CSI and DIS come again, then TSI and DCS.
  EXPECT_EQ(Kinds(modem), (std::vector<std::string>{"CSI", "DCS", "AT+FTM=145", "AT+FTM=146", "EOM", "CSI", "DCS",
                                                    "AT+FTM=145", "AT+FTM=146", "EOM", "CSI", "DCS", "AT+FTM=145",
                                                    "AT+FTM=146", "EOP", "DCN"}));
}

TEST_F(Class1Send, AfterEomTheNextDocumentKeepsTheSpeedTheLineTook) {
  Document(2);
  TClass1Modem modem(pty_, Remote([](TFxFrameKind k, int nth) -> std::vector<Bytes> {
    if (k == TFxFrameKind::fkDCS && nth == 1) return {Frame(TFxFcf::FTT, true)};
    return {};
  }));
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(modem.TrainCodes(), (std::vector<std::string>{"145", "121", "122", "121", "122"}));
}

TEST_F(Class1Send, ARemoteSilentAfterEomGetsTheNextDcsAnyway) {
  Document(2);
  TClass1Modem modem(pty_, Remote(nullptr, kDis14400, false));
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(Kinds(modem), (std::vector<std::string>{"CSI", "DCS", "AT+FTM=145", "AT+FTM=146", "EOM", "CSI", "DCS",
                                                    "AT+FTM=145", "AT+FTM=146", "EOP", "DCN"}));
}

TEST_F(Class1Send, AResolutionChangeIsNeverCoveredByMps) {
  Document(3, false, true);
  fax_.KeepPageParameters = true;
  TClass1Modem modem(pty_, Remote());
  ASSERT_EQ(Run(), 0);
  std::vector<std::string> ppm;
  for (const auto& k : Kinds(modem))
    if (k == "MPS" || k == "EOM" || k == "EOP") ppm.push_back(k);
  EXPECT_EQ(ppm, (std::vector<std::string>{"EOM", "EOM", "EOP"}));
  EXPECT_EQ(modem.Count("CSI"), 3);
  const auto dcs = modem.Dcs();
  ASSERT_EQ(dcs.size(), 3u);
  EXPECT_FALSE(dcs[0].fine);
  EXPECT_TRUE(dcs[1].fine);
  EXPECT_FALSE(dcs[2].fine);
}

TEST_F(Class1Send, FttStepsTheSpeedDownUntilTheTrainingPasses) {
  Document(1);
  fax_.DesiredBPS = 9600;
  TClass1Modem modem(pty_, Remote([](TFxFrameKind k, int nth) -> std::vector<Bytes> {
    if (k == TFxFrameKind::fkDCS && nth == 1) return {Frame(TFxFcf::FTT, true)};
    return {};
  }));
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(modem.TrainCodes(), (std::vector<std::string>{"96", "72", "72"}));
  const auto dcs = modem.Dcs();
  ASSERT_EQ(dcs.size(), 2u);
  EXPECT_EQ(dcs[1].speedIndex, 3);
  EXPECT_EQ(fax_.ConnectBPS(), 7200);
}

TEST_F(Class1Send, NoSpeedTrainsEndsWithTrainError) {
  Document(1);
  TClass1Modem modem(pty_, Remote([](TFxFrameKind k, int) -> std::vector<Bytes> {
    if (k == TFxFrameKind::fkDCS) return {Frame(0x45, true)};  // FTT as a caller would mark it
    return {};
  }));
  EXPECT_EQ(Run(), fxcode::ecFaxTrainError);
  EXPECT_EQ(modem.TrainCodes(), (std::vector<std::string>{"145", "121", "96", "72", "48", "24"}));
  EXPECT_EQ(errors_, std::vector<int>{fxcode::ecFaxTrainError});
  // The remote is told before the line drops.
  EXPECT_EQ(LastFrame(modem.Sent())->frame.Kind(), TFxFrameKind::fkDCN);
}

TEST_F(Class1Send, ARemoteWithoutV17IsNotOfferedIt) {
  Document(1);
  TClass1Modem modem(pty_, Remote(nullptr, {0x00, 0x4E, 0x00}));
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(modem.TrainCodes(), (std::vector<std::string>{"96", "96"}));
}

TEST_F(Class1Send, AFineFaxToANormalOnlyRemoteIsRefusedBeforeTraining) {
  Document(1, true);
  TClass1Modem modem(pty_, Remote(nullptr, {0x00, 0x2E, 0x00}));
  EXPECT_EQ(Run(), fxcode::ecFaxBadMachine);
  EXPECT_TRUE(modem.TrainCodes().empty());
  EXPECT_EQ(Kinds(modem), std::vector<std::string>{"DCN"});
  EXPECT_EQ(errors_, std::vector<int>{fxcode::ecFaxBadMachine});
}

TEST_F(Class1Send, DcnFromTheRemoteEndsTheSend) {
  Document(2);
  TClass1Modem modem(pty_, Remote([](TFxFrameKind k, int) -> std::vector<Bytes> {
    if (k == TFxFrameKind::fkEOM) return {Frame(0xFA, true)};
    return {};
  }));
  EXPECT_EQ(Run(), fxcode::ecCancelRequested);
  EXPECT_EQ(errors_, std::vector<int>{fxcode::ecCancelRequested});
}

TEST_F(Class1Send, APostPageMessageWithoutAnswerIsTriedThreeTimes) {
  Document(1);
  TClass1Modem modem(pty_, Remote([](TFxFrameKind k, int) -> std::vector<Bytes> {
    if (k == TFxFrameKind::fkEOP) return kSilence;
    return {};
  }));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run(), fxcode::ecTimeout);
  EXPECT_EQ(modem.Count("EOP"), 3);
  // Three waits of 3 s each.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 9s);
}

// Only an intact MCF confirms a page: an answer of another kind (a receiver
// that never saw the page repeating its CFR) or an MCF failing its check is
// no answer, and the send ends as one whose post-page message went
// unanswered, not as a success.
TEST_F(Class1Send, OnlyAnIntactMcfConfirmsAPage) {
  const std::vector<std::pair<const char*, std::vector<Bytes>>> answers = {
      {"repeated CFR", {Frame(TFxFcf::CFR, true)}},
      {"MCF failing its check", {Bytes{0}, Frame(TFxFcf::MCF, true)}},
  };
  for (const auto& [what, answer] : answers) {
    SCOPED_TRACE(what);
    errors_.clear();
    Document(1);
    TClass1Modem modem(pty_, Remote([&answer](TFxFrameKind k, int) -> std::vector<Bytes> {
      if (k == TFxFrameKind::fkEOP) return answer;
      return {};
    }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(), fxcode::ecTimeout);
    EXPECT_EQ(errors_, std::vector<int>{fxcode::ecTimeout});
    EXPECT_EQ(modem.Count("EOP"), 3);
    // Each wrong answer has the message repeated at once, without first
    // waiting out the time an answer may take.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
    port_.SetOpen(false);
  }
}

TEST_F(Class1Send, ALostMcfIsRecoveredByRepeatingThePostPageMessage) {
  Document(1);
  TClass1Modem modem(pty_, Remote([](TFxFrameKind k, int nth) -> std::vector<Bytes> {
    if (k == TFxFrameKind::fkEOP && nth == 1) return kSilence;
    return {};
  }));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(modem.Count("EOP"), 2);
}

TEST_F(Class1Send, RtnResendsThePageAfterANewTrainingAtALowerSpeed) {
  Document(2);
  fax_.KeepPageParameters = true;
  TClass1Modem modem(pty_, Remote([](TFxFrameKind k, int nth) -> std::vector<Bytes> {
    if (k == TFxFrameKind::fkMPS && nth == 1) return {Frame(TFxFcf::RTN, true)};
    return {};
  }));
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(Kinds(modem), (std::vector<std::string>{"CSI", "DCS", "AT+FTM=145", "AT+FTM=146", "MPS", "CSI", "DCS",
                                                    "AT+FTM=121", "AT+FTM=122", "MPS", "AT+FTM=122", "EOP",
                                                    "DCN"}));
}

// RTP and RTN to EOM send the receiver back to the start of the negotiation
// too: the sender waits for its new DIS before the next DCS (the scripted
// remote refuses one that comes first).
TEST_F(Class1Send, RtpToEomWaitsForTheReceiversNewDis) {
  EXPECT_EQ(TwoPagesWithFirstEomAnswered(TFxFcf::RTP),
            (std::vector<std::string>{"CSI", "DCS", "AT+FTM=145", "AT+FTM=146", "EOM", "CSI", "DCS", "AT+FTM=145",
                                      "AT+FTM=146", "EOP", "DCN"}));
}

// After RTN to EOM the page goes again, one speed lower, after the new DIS.
TEST_F(Class1Send, RtnToEomResendsThePageLowerAfterTheReceiversNewDis) {
  EXPECT_EQ(TwoPagesWithFirstEomAnswered(TFxFcf::RTN),
            (std::vector<std::string>{"CSI", "DCS", "AT+FTM=145", "AT+FTM=146", "EOM", "CSI", "DCS", "AT+FTM=121",
                                      "AT+FTM=122", "EOM", "CSI", "DCS", "AT+FTM=121", "AT+FTM=122", "EOP", "DCN"}));
}

TEST_F(Class1Send, RepeatedRtnGivesUp) {
  Document(1);
  TClass1Modem modem(pty_, Remote([](TFxFrameKind k, int) -> std::vector<Bytes> {
    if (k == TFxFrameKind::fkEOP) return {Frame(TFxFcf::RTN, true)};
    return {};
  }));
  EXPECT_EQ(Run(), fxcode::ecFaxSessionError);
  EXPECT_EQ(modem.Count("EOP"), 3);
  EXPECT_EQ(LastFrame(modem.Sent())->frame.Kind(), TFxFrameKind::fkDCN);
}

TEST_F(Class1Send, HostileFramesAreSurvived) {
  Document(1);
  // Before the real CSI and DIS: a frame failing its check, an unknown FCF,
  // an over-long CSI and a DIS with every bit set.
  TRemote remote = [](const std::vector<TSent>& sent, int frh) -> std::vector<Bytes> {
    if (frh == 0) {
      const std::string id = "987" + std::string(250, 'Z');
      const Bytes longCsi(id.begin(), id.end());
      return {Frame(0x20, false, Bytes(40, 0x10)), Frame(0x40, false, longCsi), Frame(0x80, false, Bytes(30, 0xFF)),
              Frame(0x99, false), Bytes{0}, Frame(TFxFcf::DIS, true, kDis14400),
              Frame(TFxFcf::DIS, true, kDis14400)};
    }
    const TSent* last = LastFrame(sent);
    if (last && last->frame.Kind() == TFxFrameKind::fkDCS) return {Frame(TFxFcf::CFR, true)};
    return {Frame(TFxFcf::MCF, true)};
  };
  TClass1Modem modem(pty_, remote);
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(fax_.RemoteID(), std::string(17, 'Z') + "789");
  EXPECT_EQ(fax_.ConnectBPS(), 14400);
}

TEST_F(Class1Send, ADisWithoutReceiveCapabilityIsRefused) {
  Document(1);
  TClass1Modem modem(pty_, Remote(nullptr, {0x00, 0x6C, 0x00}));
  EXPECT_EQ(Run(), fxcode::ecFaxBadMachine);
}

TEST_F(Class1Send, CancelDuringPageDataEndsTheDataBeforeHangingUp) {
  // A Class 1 modem in data mode reads ATH0 as page data: the cancel must
  // end the data with DLE ETX and let the modem answer before hanging up.
  TFxFaxConverter conv;
  conv.SetOptions(0);
  conv.OutFileName = (locks_.Path() / "LONG.APF").string();
  TFxBitmap page = TFxBitmap::MakeMono(1728, 400);
  for (unsigned y = 0; y < 400; ++y)
    for (unsigned x = 0; x < 216; ++x) page.Row(y)[x] = 0xAA;  // one-pixel runs: a long page
  ASSERT_EQ(conv.TryConvertBitmap(page), 0);
  fax_.SetFaxFile(conv.OutFileName);
  TClass1Modem modem(pty_, Remote());
  size_t atCancel = 0;
  bool cancelled = false;
  EXPECT_EQ(Run(40s,
                [&] {
                  // The training's zeros come first; cancel once the page is under way.
                  if (!cancelled && modem.Count("AT+FTM=146") + modem.Count("AT+FTM=145") >= 2 &&
                      modem.DataBytes() > 4000) {
                    cancelled = true;
                    atCancel = modem.Sent().size();
                    fax_.AbortFax();
                  }
                }),
            fxcode::ecCancelRequested);
  ASSERT_TRUE(cancelled);
  std::vector<std::string> after;
  const auto sent = modem.Sent();
  for (size_t i = atCancel; i < sent.size(); ++i) after.push_back(sent[i].Kind());
  EXPECT_EQ(after, (std::vector<std::string>{"DLE ETX", "ATH0"}));
}

TEST_F(Class1Send, ACancelDuringThePauseBeforeTheNextCommandIsTakenAtOnce) {
  // After the remote's DIS the modem gets a pause before AT+FTH=3: a cancel
  // then ends the pause, and the command is never sent.
  Document(1);
  TClass1Modem modem(pty_, Remote());
  std::chrono::steady_clock::time_point disAt{}, asked{}, taken{};
  const std::chrono::steady_clock::time_point never{};
  fax_.OnFaxError = [&](TFxAbstractFax&, int code) {
    if (code == fxcode::ecCancelRequested && taken == never) taken = std::chrono::steady_clock::now();
  };
  EXPECT_EQ(Run(40s,
                [&] {
                  const auto now = std::chrono::steady_clock::now();
                  // The DIS is the answer to the first AT+FRH=3.
                  if (disAt == never && modem.Count("AT+FRH=3") > 0) disAt = now;
                  if (asked == never && disAt != never && now - disAt > 60ms) {
                    asked = now;
                    fax_.AbortFax();
                  }
                }),
            fxcode::ecCancelRequested);
  ASSERT_NE(asked, never);
  ASSERT_NE(taken, never);
  EXPECT_LT(taken - asked, 50ms);
  EXPECT_EQ(modem.Count("AT+FTH=3"), 0);
}
