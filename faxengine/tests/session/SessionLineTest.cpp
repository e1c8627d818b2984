// Fax sessions through the virtual modem line: Corvane's send and receive
// components against the far-end fax machine (spandsp T.30), against each
// other, and into the line's fault cases. Pages the far end stores are
// compared with the pages sent below the header line Corvane puts on top.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <cstdlib>
#include <thread>

#include "faxengine/port/ComPort.h"
#include "faxengine/session/AbstractFax.h"
#include "faxengine/session/FaxCodes.h"
#include "faximage/Apf.h"
#include "faximage/FaxConverter.h"
#include "faximage/FaxUnpacker.h"
#include "testsupport/LinePages.h"
#include "testsupport/TempFolder.h"
#include "testsupport/LineHarness.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using linepages::ToFxBitmap;
using linepages::WriteApf;

// Rows the header line adds on top of every page: 8 blank lines, then the
// font's rows (8, doubled at fine resolution) when there is header text.
int HeaderRows(bool fine, bool withText) { return 8 + (withText ? (fine ? 16 : 8) : 0); }

bool SameBelowHeader(const linetest::TBitmap& got, const linetest::TBitmap& sent, int skip, std::string& why) {
  if (got.width != sent.width) {
    why = "width " + std::to_string(got.width);
    return false;
  }
  if (got.height < sent.height + skip) {
    why = "height " + std::to_string(got.height) + " < " + std::to_string(sent.height + skip);
    return false;
  }
  for (int y = 0; y < sent.height; ++y)
    if (!std::equal(sent.Row(y), sent.Row(y) + sent.Stride(), got.Row(y + skip))) {
      why = "row " + std::to_string(y) + " differs";
      return false;
    }
  return true;
}

bool HasInk(const linetest::TBitmap& b, int from, int to) {
  for (int y = from; y < to && y < b.height; ++y)
    for (size_t x = 0; x < b.Stride(); ++x)
      if (b.Row(y)[x] != 0) return true;
  return false;
}

class SessionLine : public ::testing::Test {
 protected:
  void SetUp() override {
    line_ = std::make_unique<linetest::TLineProcess>(dir_.Path() / "line", extra_);
    ASSERT_TRUE(line_->Ready()) << line_->Log();
  }
  void TearDown() override {
    ports_.clear();
    if (line_) line_->Stop();
  }

  TFxComPort& Port(int n) {
    auto p = std::make_unique<TFxComPort>();
    p->SetHostExecutor(&exec_);
    p->SetDeviceName(line_->Link(n).string());
    p->SetComNumber(static_cast<uint16_t>(n));
    p->SetPromptForPort(false);
    p->SetAutoOpen(false);
    ports_.push_back(std::move(p));
    return *ports_.back();
  }

  void Prepare(TFxAbstractFax& fax, TFxComPort& port, TFaxClass cls) {
    fax.SetComPort(&port);
    fax.FaxClass = cls;
    fax.DesiredBPS = 14400;
    fax.OnFaxError = [this](TFxAbstractFax&, int code) { errors_.push_back(code); };
    fax.OnFaxStatus = [this](TFxAbstractFax& f, bool, bool) { progress_.push_back(f.ProgressCode()); };
    port.SetOpen(true);
  }

  // Runs the host loop until fax finished; returns its code.
  int RunToFinish(TFxAbstractFax& fax, std::chrono::seconds limit = 100s) {
    bool done = false;
    int code = 1;
    auto prev = fax.OnFaxFinish;
    fax.OnFaxFinish = [&](TFxAbstractFax&, int c) {
      code = c;
      done = true;
    };
    EXPECT_TRUE(exec_.RunUntil([&] { return done; }, limit)) << "session did not finish";
    fax.OnFaxFinish = prev;
    return code;
  }

  std::vector<linetest::TBitmap> Pages(int count, int height, int seed = 1) {
    std::vector<linetest::TBitmap> pages;
    for (int i = 0; i < count; ++i) pages.push_back(linetest::MakePage(seed + i, height));
    return pages;
  }

  // The far end's latest received fax, waited for.
  linepages::TFarEndFax FarEndResult(std::string& log) { return linepages::FarEndLatest(line_->Received(), log); }

  void SendToFarEnd(TFaxClass cls, int pageCount, bool fine, bool apfCover) {
    const auto pages = Pages(pageCount, fine ? 500 : 260);
    const fs::path doc = dir_.Path() / "DOC.APF";
    WriteApf(doc, pages, fine);
    std::vector<linetest::TBitmap> expected = pages;
    fs::path cover;
    if (apfCover) {
      const auto coverPage = Pages(1, fine ? 300 : 150, 40);
      cover = dir_.Path() / "COV.APF";
      WriteApf(cover, coverPage, fine);
      expected.insert(expected.begin(), coverPage.front());
    }
    TFxSendFax fax;
    Prepare(fax, Port(1), cls);
    fax.SetPhoneNumber("200");
    fax.SetFaxFile(doc.string());
    if (apfCover) fax.SetCoverFile(cover.string());
    fax.HeaderLine = "$D $T Corvane page $P of $N";
    fax.SetStationID("Corvane test");
    fax.StartTransmit();
    ASSERT_EQ(RunToFinish(fax), 0) << line_->Log();
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(fax.ProgressCode(), fxprogress::fpFinished);
    std::string log;
    const linepages::TFarEndFax far = FarEndResult(log);
    EXPECT_EQ(far.result, 0) << log;
    ASSERT_EQ(far.pages, static_cast<int>(expected.size())) << log;
    for (size_t p = 0; p < expected.size(); ++p) {
      const auto got = linetest::ReadPbm(far.file + "-p" + std::to_string(p + 1) + ".pbm");
      ASSERT_TRUE(got) << "page " << p + 1;
      std::string why;
      EXPECT_TRUE(SameBelowHeader(*got, expected[p], HeaderRows(fine, true), why)) << "page " << p + 1 << ": " << why;
      EXPECT_TRUE(HasInk(*got, 8, HeaderRows(fine, true))) << "header line missing on page " << p + 1;
    }
  }

  // The far end sends a TIFF to Corvane's receiver on com1 (number 101).
  void ReceiveFromFarEnd(TFaxClass cls) {
    const auto pages = Pages(2, 400, 7);
    const fs::path tif = dir_.Path() / "in.tif";
    ASSERT_TRUE(linetest::WriteTiff(tif, pages));
    TFxReceiveFax fax;
    Prepare(fax, Port(1), cls);
    fax.DestinationDir = (dir_.Path() / "rx").string();
    fs::create_directories(fax.DestinationDir);
    std::ofstream(fs::path(fax.DestinationDir) / "FAX0001.APF") << "taken";
    fax.OneFax = true;
    fax.StartReceive();
    exec_.RunFor(500ms);
    ASSERT_EQ(line_->Control("send 101 " + tif.string()).rfind("OK", 0), 0u);
    ASSERT_EQ(RunToFinish(fax, 110s), 0) << line_->Log();
    const fs::path got = fs::path(fax.DestinationDir) / "FAX0002.APF";
    ExpectApfPages(got, pages);
  }

  // The pages of an APF file as bitmaps (1 = black).
  std::vector<linetest::TBitmap> ReadApfPages(const fs::path& file) {
    std::vector<linetest::TBitmap> out;
    TFxFaxUnpacker u;
    u.SetInFileName(file.string());
    for (unsigned p = 1; p <= u.PageCount(); ++p) {
      linetest::TBitmap got;
      got.width = 1728;
      u.OnOutputLine = [&](TFxFaxUnpacker&, bool starting, bool ending, const uint8_t* data, unsigned len, unsigned) {
        if (starting || ending || !data) return;
        got.bits.insert(got.bits.end(), data, data + std::min<size_t>(len, got.Stride()));
        if (len < got.Stride()) got.bits.resize(got.bits.size() + got.Stride() - len, 0);
        ++got.height;
      };
      u.UnpackPage(p);
      out.push_back(std::move(got));
    }
    return out;
  }

  void ExpectApfPages(const fs::path& file, const std::vector<linetest::TBitmap>& pages, int skip = 0) {
    const auto got = ReadApfPages(file);
    ASSERT_EQ(got.size(), pages.size());
    for (size_t p = 0; p < pages.size(); ++p) {
      std::string why;
      EXPECT_TRUE(SameBelowHeader(got[p], pages[p], skip, why)) << "page " << p + 1 << ": " << why;
    }
  }

  // efax on com2 (number 102), in its Class 1 mode, sends two pages made by
  // its own converter to Corvane receiving on com1 under `cls`. efax draws
  // its header line over the top of each page: the pages are compared below it.
  void ReceiveFromEfax(TFaxClass cls) {
    if (!linetest::HaveProgram("efax") || !linetest::HaveProgram("efix")) GTEST_SKIP() << "efax and efix are needed";
    const auto pages = Pages(2, 240, 5);
    std::vector<std::string> argv{"efax", "-d", line_->Link(2).string(), "-o1", "-l", "+1 555 0102",
                                  "-v", "ewinchr", "-t", "101"};
    for (size_t p = 0; p < pages.size(); ++p) {
      const fs::path pbm = dir_.Path() / ("page" + std::to_string(p + 1) + ".pbm");
      const fs::path tif = dir_.Path() / ("page" + std::to_string(p + 1) + ".tif");
      ASSERT_TRUE(linetest::WritePbm(pbm, pages[p]));
      ASSERT_EQ(linetest::Run({"efix", "-i", "pbm", "-o", "tiffg3", "-n", tif.string(), pbm.string()},
                              dir_.Path() / "efix.log", 30s),
                0);
      argv.push_back(tif.string());
    }
    TFxReceiveFax fax;
    Prepare(fax, Port(1), cls);
    fax.DestinationDir = (dir_.Path() / "rx").string();
    fs::create_directories(fax.DestinationDir);
    fax.OneFax = true;
    fax.StartReceive();
    ASSERT_TRUE(exec_.RunUntil([&] { return fax.ProgressCode() == fxprogress::fpWaiting; }, 20s));
    const fs::path efaxLog = dir_.Path() / "efax.log";
    linetest::TProcess efax(argv, efaxLog);
    ASSERT_EQ(RunToFinish(fax, 120s), 0) << linetest::ReadText(efaxLog) << line_->Log();
    EXPECT_EQ(efax.Wait(30s), 0) << linetest::ReadText(efaxLog);
    EXPECT_TRUE(errors_.empty());
    const auto got = ReadApfPages(fs::path(fax.DestinationDir) / "FAX0001.APF");
    ASSERT_EQ(got.size(), pages.size());
    for (size_t p = 0; p < pages.size(); ++p) {
      std::string why;
      EXPECT_TRUE(linetest::SamePageBelowEfaxHeader(got[p], pages[p], why)) << "page " << p + 1 << ": " << why;
    }
  }

  TTempFolder dir_;
  std::vector<std::string> extra_;
  std::unique_ptr<linetest::TLineProcess> line_;
  TPlainExecutor exec_;
  std::vector<std::unique_ptr<TFxComPort>> ports_;
  std::vector<int> errors_;
  std::vector<int> progress_;
};

}  // namespace

TEST_F(SessionLine, Class2SendsOnePageNormal) { SendToFarEnd(TFaxClass::fcClass2, 1, false, false); }
TEST_F(SessionLine, Class2SendsThreePagesFineWithCover) { SendToFarEnd(TFaxClass::fcClass2, 3, true, true); }
TEST_F(SessionLine, Class2SendsTenPagesNormal) { SendToFarEnd(TFaxClass::fcClass2, 10, false, false); }
TEST_F(SessionLine, Class20SendsOnePageFine) { SendToFarEnd(TFaxClass::fcClass2_0, 1, true, false); }
TEST_F(SessionLine, Class20SendsThreePagesNormalWithCover) { SendToFarEnd(TFaxClass::fcClass2_0, 3, false, true); }
TEST_F(SessionLine, Class20SendsTenPagesFine) { SendToFarEnd(TFaxClass::fcClass2_0, 10, true, false); }
TEST_F(SessionLine, Class2ReceivesFromTheFarEnd) { ReceiveFromFarEnd(TFaxClass::fcClass2); }
TEST_F(SessionLine, Class20ReceivesFromTheFarEnd) { ReceiveFromFarEnd(TFaxClass::fcClass2_0); }

TEST_F(SessionLine, Class2ReceivesFromEfax) { ReceiveFromEfax(TFaxClass::fcClass2); }
TEST_F(SessionLine, Class20ReceivesFromEfax) { ReceiveFromEfax(TFaxClass::fcClass2_0); }

TEST_F(SessionLine, CorvaneSendsToCorvane) {
  const auto pages = Pages(2, 300, 3);
  const fs::path doc = dir_.Path() / "DOC.APF";
  WriteApf(doc, pages, false);
  TFxReceiveFax rx;
  Prepare(rx, Port(2), TFaxClass::fcDetect);
  rx.DestinationDir = (dir_.Path() / "rx").string();
  fs::create_directories(rx.DestinationDir);
  rx.OneFax = true;
  bool rxDone = false;
  int rxCode = 1;
  rx.OnFaxFinish = [&](TFxAbstractFax&, int c) {
    rxDone = true;
    rxCode = c;
  };
  rx.StartReceive();
  TFxSendFax tx;
  Prepare(tx, Port(1), TFaxClass::fcClass2);
  tx.SetPhoneNumber("102");
  tx.SetFaxFile(doc.string());
  tx.StartTransmit();
  EXPECT_EQ(RunToFinish(tx), 0) << line_->Log();
  ASSERT_TRUE(exec_.RunUntil([&] { return rxDone; }, 30s));
  EXPECT_EQ(rxCode, 0);
  ExpectApfPages(fs::path(rx.DestinationDir) / "FAX0001.APF", pages, HeaderRows(false, false));
}

class SessionFault : public SessionLine {
 protected:
  int SendTo(const std::string& number, int dialWait = 60, int attempts = 1, int retryWait = 1) {
    const fs::path doc = dir_.Path() / "DOC.APF";
    WriteApf(doc, Pages(1, 200), false);
    fax_.SetComPort(nullptr);
    Prepare(fax_, Port(1), TFaxClass::fcClass2);
    fax_.SetPhoneNumber(number);
    fax_.SetFaxFile(doc.string());
    fax_.SetDialWait(dialWait);
    fax_.DialAttempts = attempts;
    fax_.DialRetryWait = retryWait;
    fax_.StartTransmit();
    return RunToFinish(fax_);
  }
  TFxSendFax fax_;
};

TEST_F(SessionFault, BusyRedialsThenGivesUp) {
  line_->Control("busy 200 on");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendTo("200", 60, 2, 2), fxcode::ecFaxBusy);
  EXPECT_EQ(fax_.DialAttempt(), 2);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_NE(std::find(progress_.begin(), progress_.end(), fxprogress::fpBusyWait), progress_.end());
}

TEST_F(SessionFault, VoiceAnswer) {
  line_->Control("voice 200 on");
  EXPECT_EQ(SendTo("200"), fxcode::ecFaxVoiceCall);
}

TEST_F(SessionFault, NoDialTone) {
  line_->Control("nodialtone 101 on");
  EXPECT_EQ(SendTo("200"), fxcode::ecFaxNoDialTone);
}

TEST_F(SessionFault, NoAnswerAfterTheDialWait) {
  line_->Control("refuse 200 on");
  EXPECT_EQ(SendTo("200", 8), fxcode::ecFaxNoAnswer);
}

TEST_F(SessionFault, HangupInTheMiddleOfAPage) {
  const fs::path doc = dir_.Path() / "DOC.APF";
  WriteApf(doc, Pages(3, 1000), true);
  Prepare(fax_, Port(1), TFaxClass::fcClass2);
  fax_.DesiredBPS = 2400;
  fax_.SetPhoneNumber("200");
  fax_.SetFaxFile(doc.string());
  fax_.StartTransmit();
  ASSERT_TRUE(exec_.RunUntil([&] { return fax_.ProgressCode() == fxprogress::fpSendPage; }, 60s));
  exec_.RunFor(2s);
  line_->Control("hangup 200");
  const int code = RunToFinish(fax_);
  EXPECT_NE(code, 0);
  EXPECT_EQ(errors_.size(), 1u);
}

TEST_F(SessionFault, CancelWhileWaitingToRedial) {
  line_->Control("busy 200 on");
  const fs::path doc = dir_.Path() / "DOC.APF";
  WriteApf(doc, Pages(1, 200), false);
  Prepare(fax_, Port(1), TFaxClass::fcClass2);
  fax_.SetPhoneNumber("200");
  fax_.SetFaxFile(doc.string());
  fax_.DialRetryWait = 60;
  fax_.StartTransmit();
  ASSERT_TRUE(exec_.RunUntil([&] { return fax_.ProgressCode() == fxprogress::fpBusyWait; }, 60s));
  fax_.AbortFax();
  EXPECT_EQ(RunToFinish(fax_, 20s), fxcode::ecCancelRequested);
  EXPECT_EQ(fax_.ProgressCode(), fxprogress::fpCancel);
}

TEST_F(SessionFault, CancelWhileSendingAPage) {
  const fs::path doc = dir_.Path() / "DOC.APF";
  WriteApf(doc, Pages(2, 1000), true);
  Prepare(fax_, Port(1), TFaxClass::fcClass2_0);
  fax_.DesiredBPS = 2400;
  fax_.SetPhoneNumber("200");
  fax_.SetFaxFile(doc.string());
  fax_.StartTransmit();
  ASSERT_TRUE(exec_.RunUntil([&] { return fax_.ProgressCode() == fxprogress::fpSendPage; }, 60s));
  exec_.RunFor(1500ms);  // well into the page
  // The cancel only asks: the hang-up (seconds of guard times) runs on the
  // engine's thread, never on the window's.
  const auto asked = std::chrono::steady_clock::now();
  fax_.AbortFax();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 50ms);
  EXPECT_EQ(RunToFinish(fax_, 30s), fxcode::ecCancelRequested);
  EXPECT_EQ(fax_.ProgressCode(), fxprogress::fpCancel);
}

TEST_F(SessionFault, CancelWhileWaitingForACall) {
  TFxReceiveFax rx;
  Prepare(rx, Port(1), TFaxClass::fcClass2);
  rx.DestinationDir = dir_.Path().string();
  rx.StartReceive();
  ASSERT_TRUE(exec_.RunUntil([&] { return rx.ProgressCode() == fxprogress::fpWaiting; }, 20s));
  rx.AbortFax();
  EXPECT_EQ(RunToFinish(rx, 30s), fxcode::ecCancelRequested);
  EXPECT_EQ(rx.ProgressCode(), fxprogress::fpCancel);
}

TEST_F(SessionFault, ARefusedCallIsHungUpAndReportedOnce) {
  const auto pages = Pages(1, 200, 3);
  const fs::path tif = dir_.Path() / "in.tif";
  ASSERT_TRUE(linetest::WriteTiff(tif, pages));
  TFxReceiveFax rx;
  Prepare(rx, Port(1), TFaxClass::fcClass2);
  rx.DestinationDir = dir_.Path().string();
  rx.OneFax = true;
  rx.OnFaxAccept = [](TFxReceiveFax&, bool& accept) { accept = false; };
  std::vector<int> logs;
  rx.OnFaxLog = [&](TFxAbstractFax&, int code) { logs.push_back(code); };
  rx.StartReceive();
  exec_.RunFor(500ms);
  ASSERT_EQ(line_->Control("send 101 " + tif.string()).rfind("OK", 0), 0u);
  EXPECT_EQ(RunToFinish(rx, 60s), fxcode::ecFileRejected) << line_->Log();
  EXPECT_EQ(errors_, std::vector<int>{fxcode::ecFileRejected});
  EXPECT_EQ(logs, std::vector<int>{6});
  EXPECT_FALSE(fs::exists(dir_.Path() / "FAX0001.APF"));
  // The modem was hung up: it takes commands again.
  TFxComPort& port = *ports_.back();
  port.PurgeInput();
  port.WriteString("AT\r");
  EXPECT_TRUE(port.AwaitText("OK", 36, true, false)) << line_->Log();
}
