// Class 1 receive sessions through the virtual modem line: the far-end T.30
// machine (spandsp) and efax call Corvane's receiver and send; the APF file
// must hold exactly the pages sent, at the speed DesiredBPS allows.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
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

using linepages::WriteApf;

// The pages of an APF file as the harness' bitmaps (1 = black).
std::vector<linetest::TBitmap> ApfPages(const fs::path& file, std::vector<bool>* fine = nullptr) {
  std::vector<linetest::TBitmap> pages;
  TFxFaxUnpacker u;
  u.SetInFileName(file.string());
  const unsigned count = u.PageCount();
  for (unsigned p = 1; p <= count; ++p) {
    linetest::TBitmap got;
    got.width = 1728;
    u.OnOutputLine = [&](TFxFaxUnpacker&, bool starting, bool ending, const uint8_t* data, unsigned len, unsigned) {
      if (starting || ending || !data) return;
      got.bits.insert(got.bits.end(), data, data + std::min<size_t>(len, got.Stride()));
      if (len < got.Stride()) got.bits.resize(got.bits.size() + got.Stride() - len, 0);
      ++got.height;
    };
    u.UnpackPage(p);
    pages.push_back(std::move(got));
  }
  if (fine) {
    fine->clear();
    TFxApfReader r;
    if (r.Open(file) == 0)
      for (unsigned p = 1; p <= r.PageCount(); ++p) {
        ApfPageHeader ph;
        uint64_t at = 0;
        if (r.FindPage(p, ph, at) != 0) break;
        fine->push_back((ph.flags & apfHighRes) != 0);
      }
  }
  return pages;
}

class Class1Receive : public ::testing::Test {
 protected:
  void StartLine(std::vector<std::string> extra = {}) {
    line_ = std::make_unique<linetest::TLineProcess>(dir_.Path() / "line", std::move(extra));
    ASSERT_TRUE(line_->Ready()) << line_->Log();
  }
  void TearDown() override {
    port_.reset();
    if (line_) line_->Stop();
  }

  // Starts the receiver on com1 (number 101).
  void StartReceiver(int desiredBps, bool oneFax = true) {
    port_ = std::make_unique<TFxComPort>();
    port_->SetHostExecutor(&exec_);
    port_->SetDeviceName(line_->Link(1).string());
    port_->SetComNumber(1);
    port_->SetPromptForPort(false);
    port_->SetAutoOpen(false);
    fax_.SetComPort(port_.get());
    fax_.FaxClass = TFaxClass::fcClass1;
    fax_.DesiredBPS = static_cast<uint16_t>(desiredBps);
    fax_.SetStationID("+1 555 0101");
    fax_.OneFax = oneFax;
    fax_.DestinationDir = (dir_.Path() / "rx").string();
    fs::create_directories(fax_.DestinationDir);
    fax_.OnFaxError = [this](TFxAbstractFax&, int code) { errors_.push_back(code); };
    fax_.OnFaxLog = [this](TFxAbstractFax&, int code) { logs_.push_back(code); };
    fax_.OnFaxFinish = [this](TFxAbstractFax&, int code) {
      finishCode_ = code;
      finished_ = true;
    };
    port_->SetOpen(true);
    fax_.StartReceive();
    ASSERT_TRUE(exec_.RunUntil([&] { return fax_.ProgressCode() == fxprogress::fpWaiting || finished_; }, 20s));
    ASSERT_FALSE(finished_) << "receiver ended before a call: " << finishCode_;
  }

  int WaitForFinish(std::chrono::seconds limit = 120s) {
    EXPECT_TRUE(exec_.RunUntil([&] { return finished_; }, limit)) << "receive session did not finish";
    return finishCode_;
  }

  // The far end's log line for its call, waited for.
  std::string FarEndLine() {
    for (int i = 0; i < 50; ++i) {
      std::istringstream in(linetest::ReadText(line_->Received() / "faxes.log"));
      std::string l, last;
      while (std::getline(in, l))
        if (l.find(" sent ") != std::string::npos) last = l;
      if (!last.empty()) return last;
      std::this_thread::sleep_for(200ms);
    }
    return {};
  }

  // The far end calls and sends pages (per page fine or normal); Corvane
  // receives them with DesiredBPS at `bps` and must hold them exactly, at
  // exactly that speed.
  void ReceiveFromFarEnd(int bps, const std::vector<bool>& fine, int rows) {
    StartLine();
    std::vector<linetest::TBitmap> pages;
    for (size_t p = 0; p < fine.size(); ++p) pages.push_back(linetest::MakePage(static_cast<int>(p) + 3, rows));
    const fs::path tif = dir_.Path() / "in.tif";
    ASSERT_TRUE(linetest::WriteTiff(tif, pages, fine));
    StartReceiver(bps);
    ASSERT_EQ(line_->Control("send 101 " + tif.string()).rfind("OK", 0), 0u);
    ASSERT_EQ(WaitForFinish(), 0) << line_->Log();
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(fax_.ConnectBPS(), bps);
    EXPECT_EQ(fax_.RemoteID(), "+1 555 0200");
    const std::string far = FarEndLine();
    EXPECT_NE(far.find(" rate=" + std::to_string(bps) + " "), std::string::npos) << far;
    EXPECT_NE(far.find("result=0 "), std::string::npos) << far;
    // One file for the whole call, also across EOM.
    EXPECT_EQ(std::count(logs_.begin(), logs_.end(), 4), 1);
    EXPECT_EQ(std::count(logs_.begin(), logs_.end(), 5), 1);
    const fs::path got = fs::path(fax_.DestinationDir) / "FAX0001.APF";
    std::vector<bool> gotFine;
    const auto gotPages = ApfPages(got, &gotFine);
    ASSERT_EQ(gotPages.size(), pages.size());
    EXPECT_EQ(gotFine, fine);
    for (size_t p = 0; p < pages.size(); ++p) {
      std::string why;
      EXPECT_TRUE(linetest::SamePage(gotPages[p], pages[p], why)) << "page " << p + 1 << ": " << why;
    }
  }

  TTempFolder dir_;
  std::unique_ptr<linetest::TLineProcess> line_;
  TPlainExecutor exec_;
  std::unique_ptr<TFxComPort> port_;
  TFxReceiveFax fax_;
  std::vector<int> errors_, logs_;
  bool finished_ = false;
  int finishCode_ = 1;
};

}  // namespace

// Same resolution throughout: the caller goes on with MPS; a change of
// resolution makes it end the document with EOM and negotiate again.
TEST_F(Class1Receive, At2400FineThenNormal) { ReceiveFromFarEnd(2400, {true, false}, 80); }
TEST_F(Class1Receive, At4800NormalThenFine) { ReceiveFromFarEnd(4800, {false, true}, 120); }
TEST_F(Class1Receive, At7200TwoNormalThenFine) { ReceiveFromFarEnd(7200, {false, false, true}, 150); }
TEST_F(Class1Receive, At9600NormalThenFine) { ReceiveFromFarEnd(9600, {false, true}, 200); }
TEST_F(Class1Receive, At12000FineThenNormal) { ReceiveFromFarEnd(12000, {true, false}, 200); }
TEST_F(Class1Receive, At14400ThreePagesFine) { ReceiveFromFarEnd(14400, {true, true, true}, 200); }
TEST_F(Class1Receive, At14400NormalThenFine) { ReceiveFromFarEnd(14400, {false, true}, 200); }

// efax (Class 1) calls from com2 and sends two pages it converted itself.
TEST_F(Class1Receive, FromEfax) {
  if (!linetest::HaveProgram("efax") || !linetest::HaveProgram("efix")) GTEST_SKIP() << "efax and efix are needed";
  StartLine();
  std::vector<linetest::TBitmap> pages;
  std::vector<std::string> argv{"efax", "-d", line_->Link(2).string(), "-o1", "-l", "+1 555 0102", "-v", "ewinchr",
                                "-t", "101"};
  for (int p = 0; p < 2; ++p) {
    pages.push_back(linetest::MakePage(p + 5, 200));
    const fs::path pbm = dir_.Path() / ("page" + std::to_string(p + 1) + ".pbm");
    const fs::path tif = dir_.Path() / ("page" + std::to_string(p + 1) + ".tif");
    ASSERT_TRUE(linetest::WritePbm(pbm, pages.back()));
    ASSERT_EQ(linetest::Run({"efix", "-i", "pbm", "-o", "tiffg3", "-n", tif.string(), pbm.string()},
                            dir_.Path() / "efix.log", 30s), 0);
    argv.push_back(tif.string());
  }
  StartReceiver(14400);
  linetest::TProcess efax(argv, dir_.Path() / "efax.log");
  ASSERT_EQ(WaitForFinish(), 0) << linetest::ReadText(dir_.Path() / "efax.log");
  EXPECT_EQ(efax.Wait(30s), 0) << linetest::ReadText(dir_.Path() / "efax.log");
  EXPECT_EQ(fax_.RemoteID(), "+1 555 0102");
  const auto got = ApfPages(fs::path(fax_.DestinationDir) / "FAX0001.APF");
  ASSERT_EQ(got.size(), 2u);
  for (size_t p = 0; p < 2; ++p) {
    std::string why;
    EXPECT_TRUE(linetest::SamePageBelowEfaxHeader(got[p], pages[p], why)) << "page " << p + 1 << ": " << why;
  }
}

// Noise that defeats the faster trainings: the caller steps down on FTT and
// both pages come through at a lower speed (a noisy line without error
// correction may damage a few rows).
TEST_F(Class1Receive, NoisyLineStepsDown) {
  StartLine({"--snr", "21"});
  const std::vector<linetest::TBitmap> pages{linetest::MakePage(9, 100), linetest::MakePage(10, 100)};
  const fs::path tif = dir_.Path() / "in.tif";
  ASSERT_TRUE(linetest::WriteTiff(tif, pages));
  StartReceiver(14400);
  ASSERT_EQ(line_->Control("send 101 " + tif.string()).rfind("OK", 0), 0u);
  ASSERT_EQ(WaitForFinish(), 0) << line_->Log();
  EXPECT_LT(fax_.ConnectBPS(), 14400);
  const std::string far = FarEndLine();
  EXPECT_NE(far.find("result=0 "), std::string::npos) << far;
  const auto got = ApfPages(fs::path(fax_.DestinationDir) / "FAX0001.APF");
  ASSERT_EQ(got.size(), pages.size());
  for (size_t p = 0; p < pages.size(); ++p)
    EXPECT_LE(linetest::RowsMissedInOrder(got[p], pages[p]), pages[p].height / 8) << "page " << p + 1;
}

// So much noise that no high-speed training passes, while the frames still
// get through: every training is refused down to 2400, then both ends give up.
TEST_F(Class1Receive, NoSpeedTrains) {
  StartLine({"--snr", "4"});
  const fs::path tif = dir_.Path() / "in.tif";
  ASSERT_TRUE(linetest::WriteTiff(tif, {linetest::MakePage(2, 100)}));
  StartReceiver(14400);
  ASSERT_EQ(line_->Control("send 101 " + tif.string()).rfind("OK", 0), 0u);
  EXPECT_EQ(WaitForFinish(), fxcode::ecFaxTrainError) << line_->Log();
  EXPECT_EQ(errors_, std::vector<int>{fxcode::ecFaxTrainError});
  const std::string far = FarEndLine();
  EXPECT_EQ(far.find("result=0 "), std::string::npos) << far;
}

// The caller hangs up in the middle of a page: the session ends with an
// error, not with a fax, and the cut-off page is not kept as if whole.
TEST_F(Class1Receive, CallerHangsUpMidPage) {
  StartLine();
  const fs::path tif = dir_.Path() / "in.tif";
  ASSERT_TRUE(linetest::WriteTiff(tif, {linetest::MakePage(4, 1500)}));
  StartReceiver(2400);
  ASSERT_EQ(line_->Control("send 101 " + tif.string()).rfind("OK", 0), 0u);
  ASSERT_TRUE(exec_.RunUntil([&] { return fax_.ProgressCode() == fxprogress::fpGetPage || finished_; }, 60s));
  exec_.RunFor(3s);
  line_->Control("hangup 200");
  const auto start = std::chrono::steady_clock::now();
  const int code = WaitForFinish(40s);
  EXPECT_NE(code, 0);
  EXPECT_EQ(errors_.size(), 1u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
  EXPECT_NE(std::find(logs_.begin(), logs_.end(), 7), logs_.end()) << "file not closed as aborted";
  EXPECT_EQ(std::count(logs_.begin(), logs_.end(), 5), 0);
  TFxApfReader r;
  ASSERT_EQ(r.Open(fs::path(fax_.DestinationDir) / "FAX0001.APF"), 0);
  EXPECT_EQ(r.PageCount(), 0);
  EXPECT_EQ(fs::file_size(fs::path(fax_.DestinationDir) / "FAX0001.APF"), kApfFileHeaderSize);
}

// Corvane's Class 1 sender on com1 calls Corvane's receiver on com2 (102).
// With KeepPageParameters the pages follow each other with MPS, without it
// each one is ended with EOM and gets a new DCS and training.
class Class1CorvaneToCorvane : public Class1Receive, public ::testing::WithParamInterface<bool> {};

TEST_P(Class1CorvaneToCorvane, ThreePages) {
  const bool keep = GetParam();
  StartLine();
  std::vector<linetest::TBitmap> pages;
  for (int p = 0; p < 3; ++p) pages.push_back(linetest::MakePage(p + 11, 150));
  const fs::path doc = dir_.Path() / "DOC.APF";
  WriteApf(doc, pages, true);
  // The receiver listens on com2.
  port_ = std::make_unique<TFxComPort>();
  port_->SetHostExecutor(&exec_);
  port_->SetDeviceName(line_->Link(2).string());
  port_->SetComNumber(2);
  port_->SetPromptForPort(false);
  port_->SetAutoOpen(false);
  fax_.SetComPort(port_.get());
  fax_.FaxClass = TFaxClass::fcClass1;
  fax_.DesiredBPS = 14400;
  fax_.SetStationID("+1 555 0102");
  fax_.OneFax = true;
  fax_.DestinationDir = (dir_.Path() / "rx").string();
  fs::create_directories(fax_.DestinationDir);
  fax_.OnFaxError = [this](TFxAbstractFax&, int code) { errors_.push_back(code); };
  fax_.OnFaxFinish = [this](TFxAbstractFax&, int code) {
    finishCode_ = code;
    finished_ = true;
  };
  port_->SetOpen(true);
  fax_.StartReceive();
  ASSERT_TRUE(exec_.RunUntil([&] { return fax_.ProgressCode() == fxprogress::fpWaiting || finished_; }, 20s));

  TFxComPort txPort;
  txPort.SetHostExecutor(&exec_);
  txPort.SetDeviceName(line_->Link(1).string());
  txPort.SetComNumber(1);
  txPort.SetPromptForPort(false);
  txPort.SetAutoOpen(false);
  TFxSendFax tx;
  tx.SetComPort(&txPort);
  tx.FaxClass = TFaxClass::fcClass1;
  tx.DesiredBPS = 14400;
  tx.KeepPageParameters = keep;
  tx.SetStationID("+1 555 0101");
  tx.SetPhoneNumber("102");
  tx.SetFaxFile(doc.string());
  bool txDone = false;
  int txCode = 1;
  tx.OnFaxFinish = [&](TFxAbstractFax&, int c) {
    txCode = c;
    txDone = true;
  };
  txPort.SetOpen(true);
  tx.StartTransmit();
  ASSERT_TRUE(exec_.RunUntil([&] { return txDone && finished_; }, 120s)) << line_->Log();
  EXPECT_EQ(txCode, 0);
  EXPECT_EQ(finishCode_, 0);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(fax_.RemoteID(), "+1 555 0101");
  EXPECT_EQ(fax_.ConnectBPS(), 14400);
  const auto got = ApfPages(fs::path(fax_.DestinationDir) / "FAX0001.APF");
  ASSERT_EQ(got.size(), pages.size());
  // The sender's header line puts 8 blank rows above each page.
  for (size_t p = 0; p < pages.size(); ++p) {
    ASSERT_GE(got[p].height, pages[p].height + 8) << "page " << p + 1;
    for (int y = 0; y < pages[p].height; ++y)
      ASSERT_TRUE(std::equal(pages[p].Row(y), pages[p].Row(y) + pages[p].Stride(), got[p].Row(y + 8)))
          << "page " << p + 1 << " row " << y;
  }
  txPort.SetOpen(false);
}

INSTANTIATE_TEST_SUITE_P(KeepPageParameters, Class1CorvaneToCorvane, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Mps" : "Eom"; });

// The command line receiver: "cvfax receive --class 1" takes one fax and
// exits with 0.
TEST_F(Class1Receive, CvfaxReceivesOneFax) {
  StartLine();
  const std::vector<linetest::TBitmap> pages{linetest::MakePage(6, 150)};
  const fs::path tif = dir_.Path() / "in.tif";
  ASSERT_TRUE(linetest::WriteTiff(tif, pages));
  const fs::path rx = dir_.Path() / "rx";
  fs::create_directories(rx);
  linetest::TProcess cvfax({CVFAX_BIN, "receive", "--port", line_->Link(1).string(), "--class", "1", "--dir",
                            rx.string(), "--once", "--bps", "9600"},
                           dir_.Path() / "cvfax.log");
  std::this_thread::sleep_for(3s);  // let it set the modem up
  ASSERT_EQ(line_->Control("send 101 " + tif.string()).rfind("OK", 0), 0u);
  ASSERT_EQ(cvfax.Wait(90s), 0) << linetest::ReadText(dir_.Path() / "cvfax.log");
  const std::string out = linetest::ReadText(dir_.Path() / "cvfax.log");
  EXPECT_NE(out.find("9600 bit/s"), std::string::npos) << out;
  const auto got = ApfPages(rx / "FAX0001.APF");
  ASSERT_EQ(got.size(), 1u);
  std::string why;
  EXPECT_TRUE(linetest::SamePage(got[0], pages[0], why)) << why;
}

// Receive mode goes on after a fax: the second call is answered as well and
// goes into a file of its own.
TEST_F(Class1Receive, TwoCallsInARow) {
  StartLine();
  const std::vector<linetest::TBitmap> first{linetest::MakePage(7, 120)}, second{linetest::MakePage(8, 140)};
  const fs::path tif1 = dir_.Path() / "one.tif", tif2 = dir_.Path() / "two.tif";
  ASSERT_TRUE(linetest::WriteTiff(tif1, first));
  ASSERT_TRUE(linetest::WriteTiff(tif2, second));
  StartReceiver(14400, false);
  auto stored = [&] { return std::count(logs_.begin(), logs_.end(), 5); };
  ASSERT_EQ(line_->Control("send 101 " + tif1.string()).rfind("OK", 0), 0u);
  ASSERT_TRUE(exec_.RunUntil([&] { return stored() == 1 || finished_; }, 60s));
  ASSERT_TRUE(exec_.RunUntil([&] { return fax_.ProgressCode() == fxprogress::fpWaiting || finished_; }, 30s));
  ASSERT_FALSE(finished_) << finishCode_;
  std::this_thread::sleep_for(1s);
  ASSERT_EQ(line_->Control("send 101 " + tif2.string()).rfind("OK", 0), 0u);
  ASSERT_TRUE(exec_.RunUntil([&] { return stored() == 2 || finished_; }, 60s)) << line_->Log();
  EXPECT_TRUE(errors_.empty());
  fax_.AbortFax();
  EXPECT_EQ(WaitForFinish(30s), fxcode::ecCancelRequested);
  std::string why;
  const auto got1 = ApfPages(fs::path(fax_.DestinationDir) / "FAX0001.APF");
  const auto got2 = ApfPages(fs::path(fax_.DestinationDir) / "FAX0002.APF");
  ASSERT_EQ(got1.size(), 1u);
  ASSERT_EQ(got2.size(), 1u);
  EXPECT_TRUE(linetest::SamePage(got1[0], first[0], why)) << why;
  EXPECT_TRUE(linetest::SamePage(got2[0], second[0], why)) << why;
}
