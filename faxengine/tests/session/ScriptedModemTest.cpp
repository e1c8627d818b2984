// Send sessions against a scripted modem on a pseudo-terminal, for what the
// virtual line does not do: page rejections, a modem that falls silent and
// garbage in place of replies.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include "faxengine/port/ComDevice.h"
#include "faxengine/port/ComPort.h"
#include "faxengine/session/AbstractFax.h"
#include "faxengine/session/FaxCodes.h"
#include "faximage/Apf.h"
#include "faximage/FaxConverter.h"
#include "faxengine/tests/port/PtyFixture.h"

using namespace std::chrono_literals;

namespace {

// Answers the engine's commands on the master side of a pty. The script
// maps each command line to the text to send back; page data after CONNECT
// is swallowed up to DLE ETX, then "OK" is sent.
class TScriptedModem {
 public:
  using TScript = std::function<std::string(const std::string& command)>;
  explicit TScriptedModem(TPty& pty, TScript script) : pty_(pty), script_(std::move(script)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~TScriptedModem() {
    stop_ = true;
    thread_.join();
  }
  std::atomic<int> fdtCount{0};
  std::atomic<bool> sawFks{false};

 private:
  void Run() {
    std::string line;
    bool inData = false, dle = false;
    while (!stop_) {
      char buf[4096];
      const ssize_t n = ::read(pty_.Master(), buf, sizeof buf);
      if (n <= 0) {
        std::this_thread::sleep_for(5ms);
        continue;
      }
      for (ssize_t i = 0; i < n; ++i) {
        const char c = buf[i];
        if (inData) {
          if (dle) {
            dle = false;
            if (c == 0x03) {
              inData = false;
              pty_.Write("\r\nOK\r\n");
            }
          } else if (c == 0x10) {
            dle = true;
          }
          continue;
        }
        if (c != '\r') {
          if (c != '\n') line += c;
          continue;
        }
        if (line == "AT+FDT") ++fdtCount;
        if (line == "AT+FKS") sawFks = true;
        const std::string reply = script_(line);
        line.clear();
        pty_.Write(reply);
        if (reply.find("CONNECT") != std::string::npos) {
          pty_.Write("\x11");
          inData = true;
        }
      }
    }
  }
  TPty& pty_;
  TScript script_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

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

  int Run(std::chrono::seconds limit = 40s) {
    bool done = false;
    int code = 1;
    fax_.OnFaxFinish = [&](TFxAbstractFax&, int c) {
      code = c;
      done = true;
    };
    port_.SetOpen(true);
    fax_.StartTransmit();
    EXPECT_TRUE(exec_.RunUntil([&] { return done; }, limit));
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
  TScriptedModem modem(pty_, [](const std::string& c) { return Class2Reply(c, "1"); });
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(fax_.RemoteID(), "REMOTE");
  EXPECT_EQ(fax_.HangupReason(), 0);
}

TEST_F(ScriptedModem, ARejectedPageIsResentTwiceThenTheCallIsCancelled) {
  TScriptedModem modem(pty_, [](const std::string& c) {
    if (c.rfind("AT+FET=", 0) == 0) return std::string("\r\n+FPTS:2\r\nOK\r\n");
    return Class2Reply(c, "2");
  });
  EXPECT_EQ(Run(), fxcode::ecFaxSessionError);
  EXPECT_EQ(modem.fdtCount.load(), 3);
  EXPECT_TRUE(modem.sawFks.load());
  EXPECT_EQ(errors_, std::vector<int>{fxcode::ecFaxSessionError});
}

TEST_F(ScriptedModem, AModemThatFallsSilentTimesOut) {
  TScriptedModem modem(pty_, [](const std::string& c) {
    if (c.rfind("ATD", 0) == 0) return std::string("\r\n+FCON\r\n");
    return c.rfind("AT", 0) == 0 ? std::string("\r\nOK\r\n") : std::string();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run(), fxcode::ecTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 9s);
}

TEST_F(ScriptedModem, GarbageInsteadOfRepliesEndsWithAnErrorCode) {
  TScriptedModem modem(pty_, [](const std::string& c) {
    if (c == "AT+FCLASS=2") return std::string("\r\n\x01\xfe#garbage\x7f\r\n");
    return std::string("\r\nOK\r\n");
  });
  EXPECT_EQ(Run(), fxcode::ecFaxInitError);
}

TEST_F(ScriptedModem, NoReplyToTheInitialisationFailsBeforeDialling) {
  TScriptedModem modem(pty_, [](const std::string&) { return std::string("\r\n\x02\x03noise\r\n"); });
  EXPECT_EQ(Run(), fxcode::ecFaxBadModemResult);
  EXPECT_EQ(fax_.DialAttempt(), 0);
}
