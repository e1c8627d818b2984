// Send sessions against a scripted modem on a pseudo-terminal, for what the
// virtual line does not do: page rejections, a modem that falls silent and
// garbage in place of replies.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "faxengine/port/ComDevice.h"
#include "faxengine/port/ComPort.h"
#include "faxengine/session/AbstractFax.h"
#include "faxengine/session/FaxCodes.h"
#include "faximage/Apf.h"
#include "faximage/FaxConverter.h"
#include "testsupport/ScriptedModem.h"

using namespace std::chrono_literals;

// A host call that outlives its caller must not write into the caller's
// stack frame: under AddressSanitizer this program always looks for it.
extern "C" const char* __asan_default_options() { return "detect_stack_use_after_return=1"; }

namespace {

// A Class 2 modem: a reply with CONNECT is followed by the modem's XON and
// page data up to DLE ETX, which the modem answers with OK.
TScriptedModem::TScript Class2(std::function<std::string(const std::string& command)> reply) {
  return [reply = std::move(reply)](const std::string& command) -> TScriptedModem::TAnswer {
    const std::string text = reply(command);
    if (text.find("CONNECT") == std::string::npos) return text;
    return {text + "\x11", TScriptedModem::TNext::Data};
  };
}

class ScriptedModem : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLockFolder(locks_.Path());
    ASSERT_FALSE(pty_.SlavePath().empty());
    TFxFaxConverter c;
    c.SetOptions(0);
    c.OutFileName = (locks_.Path() / "DOC.APF").string();
    TFxBitmap page = TFxBitmap::MakeMono(1728, 100);
    for (unsigned y = 20; y < 40; ++y) page.Row(y)[10] = 0x10;  // DLE bytes in the data
    ASSERT_EQ(c.TryConvertBitmap(page), 0);
    port_.SetHostExecutor(&exec_);
    port_.SetDeviceName(pty_.SlavePath());
    port_.SetComNumber(1);
    port_.SetPromptForPort(false);
    fax_.SetComPort(&port_);
    port_.SetHWFlowOptions(0);
    fax_.FaxClass = TFaxClass::fcClass2;
    fax_.SetPhoneNumber("200");
    fax_.SetFaxFile(c.OutFileName);
    fax_.OnFaxError = [this](TFxAbstractFax&, int code) { errors_.push_back(code); };
  }
  void TearDown() override { SetLockFolder({}); }

  int Run(std::chrono::seconds limit = 40s, const std::function<void()>& whileRunning = nullptr) {
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

  TTempFolder locks_;
  TPty pty_;
  TPlainExecutor exec_;
  TFxComPort port_;
  TFxSendFax fax_;
  std::vector<int> errors_;
};

// A Class 2 modem whose remote takes pages until the post-page status.
std::string Class2Reply(const std::string& cmd, const std::string& pageStatus) {
  if (cmd.rfind("ATD", 0) == 0) return "\r\n+FCON\r\n+FDIS:0,3,0,2,0,0,0,0\r\n+FCSI:\"REMOTE\"\r\nOK\r\n";
  if (cmd == "AT+FDT") return "\r\n+FDCS:0,3,0,2,0,0,0,0\r\nCONNECT\r\n";
  if (cmd.rfind("AT+FET=", 0) == 0) return "\r\n+FPTS:" + pageStatus + "\r\n" + "+FHNG:0\r\nOK\r\n";
  return "\r\nOK\r\n";
}

}  // namespace

TEST_F(ScriptedModem, PageAcceptedFinishesTheSession) {
  // Modems add the line counts after the page status.
  TScriptedModem modem(pty_, Class2([](const std::string& c) { return Class2Reply(c, "1,2200,0,0"); }));
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(fax_.RemoteID(), "REMOTE");
  EXPECT_EQ(fax_.HangupReason(), 0);
}

TEST_F(ScriptedModem, ARejectedPageIsResentTwiceThenTheCallIsCancelled) {
  TScriptedModem modem(pty_, Class2([](const std::string& c) {
    if (c.rfind("AT+FET=", 0) == 0) return std::string("\r\n+FPTS:2\r\nOK\r\n");
    return Class2Reply(c, "2");
  }));
  EXPECT_EQ(Run(), fxcode::ecFaxSessionError);
  EXPECT_EQ(modem.Count("AT+FDT"), 3);
  EXPECT_EQ(modem.Count("AT+FKS"), 1);
  EXPECT_EQ(errors_, std::vector<int>{fxcode::ecFaxSessionError});
}

// A Class 2 modem whose remote rejects the `rejected`th page sent (counting
// every transmission, from 1) once and takes all others.
TScriptedModem::TScript RejectOnce(int rejected) {
  auto sent = std::make_shared<int>(0);
  return Class2([sent, rejected](const std::string& c) {
    if (c.rfind("AT+FET=", 0) == 0) {
      if (++*sent == rejected) return std::string("\r\n+FPTS:2\r\nOK\r\n");
      return std::string("\r\n+FPTS:1\r\n") + (c == "AT+FET=2" ? "+FHNG:0\r\n" : "") + "OK\r\n";
    }
    return Class2Reply(c, "1");
  });
}

// Page data with its fill taken out: the bits (first bit of the line in the
// least significant bit), with every run of 11 or more zero bits, which in
// one-dimensional T.4 data is an end of line with fill before it, cut to 11.
// How much fill a transmission has depends on how full the port's buffer was
// at the time; the coded image does not.
std::vector<bool> WithoutFill(const std::vector<uint8_t>& data) {
  std::vector<bool> bits;
  int zeros = 0;
  for (uint8_t byte : data)
    for (int i = 0; i < 8; ++i) {
      const bool bit = (byte >> i) & 1;
      if (!bit && ++zeros > 11) continue;
      if (bit) zeros = 0;
      bits.push_back(bit);
    }
  return bits;
}

// The same coded page, or where they part.
::testing::AssertionResult SameData(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  const auto x = WithoutFill(a), y = WithoutFill(b);
  if (x == y) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < x.size() && i < y.size() && x[i] == y[i]) ++i;
  return ::testing::AssertionFailure() << "bits without fill " << x.size() << " and " << y.size()
                                       << ", first difference at bit " << i;
}

class ScriptedResend : public ScriptedModem {
 protected:
  // Runs the session against a remote that rejects transmission `rejected`
  // once; expects `sent` transmissions and returns their data.
  std::vector<std::vector<uint8_t>> SendRejecting(int rejected, int sent) {
    TScriptedModem modem(pty_, RejectOnce(rejected));
    fax_.HeaderLine = "Corvane page $P of $N";
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(modem.Count("AT+FDT"), sent);
    auto pages = modem.Pages();
    EXPECT_EQ(pages.size(), static_cast<size_t>(sent));
    return pages;
  }
  // A document of `count` different pages.
  std::string MakeDoc(const std::string& name, unsigned count) {
    std::vector<std::filesystem::path> parts;
    for (unsigned p = 0; p < count; ++p) {
      TFxFaxConverter c;
      c.SetOptions(0);
      c.OutFileName = (locks_.Path() / (name + std::to_string(p) + ".APF")).string();
      TFxBitmap page = TFxBitmap::MakeMono(1728, 60 + 20 * p);
      for (unsigned y = 10; y < 30; ++y) page.Row(y)[5 + p * 7] = 0x10;
      EXPECT_EQ(c.TryConvertBitmap(page), 0);
      parts.emplace_back(c.OutFileName);
    }
    const std::filesystem::path out = locks_.Path() / (name + ".APF");
    EXPECT_EQ(ApfConcatenate(parts, out), 0);
    return out.string();
  }
};

TEST_F(ScriptedResend, ARejectedTextCoverIsSentAgainFromItsFirstLine) {
  const auto cover = locks_.Path() / "cover.txt";
  std::ofstream(cover) << "To: the far end\r\nFrom: Corvane\r\n\r\n" << std::string(60, 'W') << "\r\nLast line\r\n";
  fax_.SetCoverFile(cover.string());
  const auto pages = SendRejecting(1, 3);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_GT(pages[0].size(), 1000u);  // the text was rendered, not just the header
  EXPECT_TRUE(SameData(pages[1], pages[0])) << "the resent cover differs from the first";
  EXPECT_FALSE(SameData(pages[2], pages[0]));
}

TEST_F(ScriptedResend, ARejectedApfCoverIsSentAgainWhole) {
  fax_.SetCoverFile(MakeDoc("COVER", 1));
  const auto pages = SendRejecting(1, 3);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_TRUE(SameData(pages[1], pages[0]));
  EXPECT_FALSE(SameData(pages[2], pages[0]));
}

TEST_F(ScriptedResend, ARejectedPageIsSentAgainAndTheRestFollow) {
  fax_.SetFaxFile(MakeDoc("DOC3", 3));
  const auto pages = SendRejecting(2, 4);
  ASSERT_EQ(pages.size(), 4u);
  EXPECT_TRUE(SameData(pages[2], pages[1])) << "page 2 resent differs";
  EXPECT_FALSE(SameData(pages[1], pages[0]));
  EXPECT_FALSE(SameData(pages[3], pages[1]));
}

TEST_F(ScriptedResend, ARejectedLastPageIsSentAgain) {
  fax_.SetFaxFile(MakeDoc("DOC2", 2));
  const auto pages = SendRejecting(2, 3);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_TRUE(SameData(pages[2], pages[1]));
  EXPECT_FALSE(SameData(pages[1], pages[0]));
}

TEST_F(ScriptedResend, AListOfFilesIsSentAsOneFax) {
  const std::string first = MakeDoc("LISTA", 1), second = MakeDoc("LISTB", 2);
  fax_.SetFaxFileList({first, second});
  const auto pages = SendRejecting(0, 3);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_FALSE(SameData(pages[0], pages[1]));
  EXPECT_FALSE(SameData(pages[1], pages[2]));
}

TEST_F(ScriptedResend, AListThatCannotBeJoinedEndsTheSessionNotTheCaller) {
  // The join runs on the session's thread: its failure comes as the
  // session's end, and the caller is not held (nor thrown at) meanwhile.
  TScriptedModem modem(pty_, Class2([](const std::string& c) { return Class2Reply(c, "1"); }));
  fax_.SetFaxFileList({MakeDoc("JOINA", 1), (locks_.Path() / "MISSING.APF").string()});
  int code = 0;
  EXPECT_NO_THROW(code = Run());
  EXPECT_LT(code, 0);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], code);
  EXPECT_EQ(modem.Count("AT+FDT"), 0);
}

TEST_F(ScriptedModem, AModemThatFallsSilentTimesOut) {
  TScriptedModem modem(pty_, Class2([](const std::string& c) {
    if (c.rfind("ATD", 0) == 0) return std::string("\r\n+FCON\r\n");
    return c.rfind("AT", 0) == 0 ? std::string("\r\nOK\r\n") : std::string();
  }));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run(), fxcode::ecTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 9s);
}

TEST_F(ScriptedModem, GarbageInsteadOfRepliesEndsWithAnErrorCode) {
  TScriptedModem modem(pty_, Class2([](const std::string& c) {
    if (c == "AT+FCLASS=2") return std::string("\r\n\x01\xfe#garbage\x7f\r\n");
    return std::string("\r\nOK\r\n");
  }));
  EXPECT_EQ(Run(), fxcode::ecFaxInitError);
}

TEST_F(ScriptedModem, NoReplyToTheInitialisationFailsBeforeDialling) {
  TScriptedModem modem(pty_, Class2([](const std::string&) { return std::string("\r\n\x02\x03noise\r\n"); }));
  EXPECT_EQ(Run(), fxcode::ecFaxBadModemResult);
  EXPECT_EQ(fax_.DialAttempt(), 0);
}

TEST_F(ScriptedModem, SlowHostHandlersAreWaitedForAndTheirAnswersKept) {
  TScriptedModem modem(pty_, Class2([](const std::string& c) { return Class2Reply(c, "1,2200,0,0"); }));
  // A handler that takes longer than a second (a slow disk, a modal box):
  // its entries must still be sent, not taken for "no more faxes".
  int calls = 0;
  const std::string file = fax_.FaxFile();
  fax_.OnFaxNext = [&](TFxSendFax&, std::string& number, std::string& doc, std::string&) {
    std::this_thread::sleep_for(1500ms);
    if (++calls > 2) return;
    number = "200";
    doc = file;
  };
  int statuses = 0;
  fax_.OnFaxStatus = [&](TFxAbstractFax&, bool, bool) {
    if (++statuses == 2) std::this_thread::sleep_for(1500ms);
  };
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(modem.Count("AT+FDT"), 2);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(ScriptedModem, AWriteThatCannotCompleteEndsTheCallWithATimeOut) {
  // The modem stops the port's output with XOFF and never lets it go on;
  // the host then fills the output ring, so the next command cannot go out.
  port_.SetSWFlowOptions(TSWFlowOptions::swfTransmit);
  TScriptedModem modem(pty_, Class2([](const std::string& c) {
    if (c == "ATE0V1Q0") return std::string("\x13\r\nOK\r\n");
    return Class2Reply(c, "1");
  }));
  const std::string file = fax_.FaxFile();
  fax_.OnFaxNext = [&](TFxSendFax&, std::string& number, std::string& doc, std::string&) {
    if (port_.OutputFree() > 0) port_.WriteBlock(std::string(port_.OutputFree(), 'x').data(), port_.OutputFree());
    number = "200";
    doc = file;
  };
  fax_.ExitOnError = true;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run(), fxcode::ecTimeout);
  EXPECT_EQ(errors_, std::vector<int>{fxcode::ecTimeout});
  // Five seconds for the stalled write, not the reply timer's ten on top.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 9s);
  EXPECT_EQ(fax_.DialAttempt(), 0);
}

TEST_F(ScriptedModem, SessionParametersAreReadFieldByFieldAndAnImpossibleOneEndsTheCall) {
  {
    TScriptedModem modem(pty_, Class2([](const std::string& c) {
      if (c == "AT+FDT") return std::string("\r\n+FDCS: 0, 5, 0, 2, 0, 0, 0, 0\r\nCONNECT\r\n");
      return Class2Reply(c, "1");
    }));
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(fax_.ConnectBPS(), 14400);
  }
  port_.SetOpen(false);
  errors_.clear();
  TScriptedModem modem(pty_, Class2([](const std::string& c) {
    if (c == "AT+FDT") return std::string("\r\n+FDCS:0,9,0,2,0,0,0,0\r\nCONNECT\r\n");
    return Class2Reply(c, "1");
  }));
  EXPECT_EQ(Run(), fxcode::ecFaxBadModemResult);
}

TEST_F(ScriptedModem, CancelDuringPageDataEndsTheDataBeforeHangingUp) {
  // A modem in data mode reads a hang-up command as page data: the cancel
  // must end the data and (Class 2 and 2.0) the session before ATH0 goes out.
  // A page of one-pixel runs is long enough to be cut short.
  TFxFaxConverter conv;
  conv.SetOptions(0);
  conv.OutFileName = (locks_.Path() / "LONG.APF").string();
  TFxBitmap page = TFxBitmap::MakeMono(1728, 400);
  for (unsigned y = 0; y < 400; ++y)
    for (unsigned x = 0; x < 216; ++x) page.Row(y)[x] = 0xAA;
  ASSERT_EQ(conv.TryConvertBitmap(page), 0);
  fax_.SetFaxFile(conv.OutFileName);
  for (const auto& [cls, endSession] :
       {std::pair{TFaxClass::fcClass2, "AT+FK"}, std::pair{TFaxClass::fcClass2_0, "AT+FKS"}}) {
    SCOPED_TRACE(endSession);
    port_.SetOpen(false);
    errors_.clear();
    fax_.FaxClass = cls;
    const bool v20 = cls == TFaxClass::fcClass2_0;
    TScriptedModem modem(pty_, Class2([v20](const std::string& c) {
      if (v20 && c.rfind("ATD", 0) == 0) return std::string("\r\n+FCO\r\n+FIS:0,3,0,2,0,0,0,0\r\nOK\r\n");
      if (v20 && c == "AT+FDT") return std::string("\r\n+FCS:0,3,0,2,0,0,0,0\r\nCONNECT\r\n");
      return Class2Reply(c, "1");
    }));
    modem.slowData = true;
    bool cancelled = false;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(40s,
                  [&] {
                    if (!cancelled && modem.dataBytes.load() > 200) {
                      cancelled = true;
                      fax_.AbortFax();
                    }
                  }),
              fxcode::ecCancelRequested);
    EXPECT_TRUE(cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    const auto events = modem.Events();
    const auto at = [&](const std::string& e) { return std::find(events.begin(), events.end(), e) - events.begin(); };
    const auto etx = at("DLE ETX"), end = at(endSession), ath = at("ATH0");
    const auto n = static_cast<std::ptrdiff_t>(events.size());
    ASSERT_LT(ath, n) << "no hang-up command reached the modem in command mode";
    EXPECT_LT(etx, end);
    EXPECT_LT(end, ath);
  }
}

namespace {
// When a cancel was asked for and when the session took it (its error).
struct TCancelTimes {
  std::chrono::steady_clock::time_point asked{}, taken{};
  bool Asked() const { return asked != std::chrono::steady_clock::time_point{}; }
  bool Taken() const { return taken != std::chrono::steady_clock::time_point{}; }
  void Error(int code) {
    if (code == fxcode::ecCancelRequested && !Taken()) taken = std::chrono::steady_clock::now();
  }
};
}  // namespace

TEST_F(ScriptedResend, ACancelDuringThePauseBeforeTheNextPageIsTakenAtOnce) {
  // Between pages the line stays silent for a while before AT+FDT: a cancel
  // then ends the pause, and the next page's command is never sent.
  fax_.SetFaxFile(MakeDoc("TWO", 2));
  TScriptedModem modem(pty_, Class2([](const std::string& c) {
    if (c == "AT+FET=0") return std::string("\r\n+FPTS:1\r\nOK\r\n");
    if (c == "AT+FET=2") return std::string("\r\n+FPTS:1\r\n+FHNG:0\r\nOK\r\n");
    return Class2Reply(c, "1");
  }));
  TCancelTimes t;
  fax_.OnFaxError = [&](TFxAbstractFax&, int code) { t.Error(code); };
  std::chrono::steady_clock::time_point pageDone{};
  EXPECT_EQ(Run(40s,
                [&] {
                  const auto now = std::chrono::steady_clock::now();
                  if (pageDone == std::chrono::steady_clock::time_point{} && modem.Count("AT+FET=0") > 0)
                    pageDone = now;
                  // Well inside the pause that follows the page's confirmation.
                  if (!t.Asked() && pageDone != std::chrono::steady_clock::time_point{} && now - pageDone > 60ms) {
                    t.asked = now;
                    fax_.AbortFax();
                  }
                }),
            fxcode::ecCancelRequested);
  ASSERT_TRUE(t.Asked());
  ASSERT_TRUE(t.Taken());
  EXPECT_LT(t.taken - t.asked, 50ms);
  EXPECT_EQ(modem.Count("AT+FDT"), 1);
  EXPECT_EQ(modem.Count("ATH0"), 1);
}

TEST_F(ScriptedModem, ACancelWhileACallIsRefusedIsTakenAtOnce) {
  // A refused call gets AT+FKS and time to send it before the line is
  // dropped; a cancel asked for meanwhile does not wait for that time.
  TFxReceiveFax rx;
  rx.SetComPort(&port_);
  rx.FaxClass = TFaxClass::fcClass2;
  rx.OneFax = true;
  rx.DestinationDir = locks_.Path().string();
  TScriptedModem modem(pty_, [](const std::string& c) -> TScriptedModem::TAnswer {
    if (c == "ATA") return "\r\n+FCON\r\n+FTSI:\"CALLER\"\r\n";
    return "\r\nOK\r\n";
  });
  TCancelTimes t;
  rx.OnFaxError = [&](TFxAbstractFax&, int code) { t.Error(code); };
  rx.OnFaxAccept = [&](TFxReceiveFax&, bool& accept) { accept = false; };
  bool done = false;
  int code = 1;
  rx.OnFaxFinish = [&](TFxAbstractFax&, int c) {
    code = c;
    done = true;
  };
  port_.SetOpen(true);
  rx.StartReceive();
  ASSERT_TRUE(exec_.RunUntil([&] { return rx.ProgressCode() == fxprogress::fpWaiting || done; }, 20s));
  modem.Write("\r\nRING\r\n");
  EXPECT_TRUE(exec_.RunUntil(
      [&] {
        if (!t.Asked() && modem.Count("AT+FKS") > 0) {
          t.asked = std::chrono::steady_clock::now();
          rx.AbortFax();
        }
        return done;
      },
      40s));
  EXPECT_EQ(code, fxcode::ecCancelRequested);
  ASSERT_TRUE(t.Asked());
  ASSERT_TRUE(t.Taken());
  EXPECT_LT(t.taken - t.asked, 50ms);
  EXPECT_EQ(modem.Count("AT+FKS"), 1);
}
