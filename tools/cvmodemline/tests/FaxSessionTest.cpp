// Whole fax sessions in real time: efax on the emulated modems, the far-end
// machine (spandsp's T.30) or a second efax on the other side.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "testsupport/LineHarness.h"

using namespace linetest;
using namespace std::chrono_literals;

namespace {

constexpr int kPageRows = 240;

// The measure the noisy-line test relies on: damage and lost rows cost what
// they are, a shift after a lost row costs nothing more, a wrong page fails.
TEST(NoisyPageMeasure, CountsDamageNotShiftsAndRejectsAnotherPage) {
  const TBitmap sent = MakePage(1, kPageRows);
  TBitmap got = sent;
  got.height += 20;  // blank rows for the header line on top
  got.bits.insert(got.bits.begin(), 20 * sent.Stride(), 0);
  EXPECT_EQ(BadRowsBelowEfaxHeader(got, sent), 0);
  TBitmap damaged = got;
  for (int y : {60, 61, 130, 200}) damaged.bits[static_cast<size_t>(y) * sent.Stride() + 40] ^= 0x10;
  EXPECT_EQ(BadRowsBelowEfaxHeader(damaged, sent), 4);
  TBitmap dropped = got;
  const auto row = static_cast<std::ptrdiff_t>(sent.Stride());
  dropped.bits.erase(dropped.bits.begin() + 100 * row, dropped.bits.begin() + 101 * row);
  --dropped.height;
  EXPECT_LE(BadRowsBelowEfaxHeader(dropped, sent), 1);
  // The whole page under a header of its own: two rows merged into one
  // damaged row and a row added cost two rows and none, not the page.
  EXPECT_EQ(RowsMissedInOrder(got, sent), 0);
  TBitmap merged = got;
  merged.bits.erase(merged.bits.begin() + 150 * row, merged.bits.begin() + 151 * row);
  merged.bits[149 * static_cast<size_t>(row) + 7] ^= 0x01;
  merged.bits.insert(merged.bits.begin() + 60 * row, merged.bits.begin() + 200 * row, merged.bits.begin() + 201 * row);
  EXPECT_EQ(RowsMissedInOrder(merged, sent), 2);
  TBitmap other = MakePage(2, kPageRows);
  EXPECT_GT(BadRowsBelowEfaxHeader(other, sent), kPageRows / 4);
  EXPECT_GT(RowsMissedInOrder(other, sent), kPageRows / 4);
  TBitmap narrow = got;
  narrow.width = 864;
  EXPECT_EQ(BadRowsBelowEfaxHeader(narrow, sent), sent.height);
}

class FaxSession : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveProgram("efax") || !HaveProgram("efix")) GTEST_SKIP() << "efax and efix are needed";
    for (int p = 0; p < 2; ++p) {
      pages_.push_back(MakePage(p + 1, kPageRows));
      fs::path pbm = dir_.Path() / ("page" + std::to_string(p + 1) + ".pbm");
      fs::path tif = dir_.Path() / ("page" + std::to_string(p + 1) + ".tif");
      ASSERT_TRUE(WritePbm(pbm, pages_.back()));
      // efax's own converter makes its input, as a user would.
      ASSERT_EQ(linetest::Run({"efix", "-i", "pbm", "-o", "tiffg3", "-n", tif.string(), pbm.string()}, Log("efix"), 30s), 0);
      files_.push_back(tif.string());
    }
    doc_ = dir_.Path() / "doc.tif";
    ASSERT_TRUE(WriteTiff(doc_, pages_));
  }

  void TearDown() override {
    // A clean exit after the session: no leak, no crash, links removed.
    if (line_) {
      EXPECT_EQ(line_->Stop(), 0) << line_->Log();
    }
  }

  void StartLine(std::vector<std::string> extra = {}) {
    line_ = std::make_unique<TLineProcess>(dir_.Path(), std::move(extra));
    ASSERT_TRUE(line_->Ready()) << line_->Log();
  }

  fs::path Log(const std::string& name) const { return dir_.Path() / (name + ".log"); }

  std::vector<std::string> EfaxSend(int modem, const std::string& cls, const std::string& number) {
    std::vector<std::string> argv{"efax", "-d", line_->Link(modem).string(), "-o" + cls, "-l", "+1 555 0101",
                                  "-v", "ewinchr", "-t", number};
    argv.insert(argv.end(), files_.begin(), files_.end());
    return argv;
  }

  std::vector<std::string> EfaxReceive(int modem, const std::string& cls, const fs::path& prefix) {
    return {"efax", "-d", line_->Link(modem).string(), "-o" + cls, "-iS0=1", "-w", "-r", prefix.string(), "-v",
            "ewinchr"};
  }

  // The far end's log line for the finished fax, once it has written it.
  std::string FarEndResult(std::chrono::seconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    std::string log;
    while (std::chrono::steady_clock::now() < end) {
      log = ReadText(line_->Received() / "faxes.log");
      if (!log.empty()) return log;
      std::this_thread::sleep_for(200ms);
    }
    return log;
  }

  // Pages the far end stored, compared with what efax was given. A noisy
  // line without error correction may damage a few rows: maxBadRows allows
  // for that.
  void ExpectFarEndPages(const std::string& log, int maxBadRows = 0) {
    const size_t at = log.find("received ");
    const size_t tif = log.find(".tif pages=2 ", at);
    ASSERT_TRUE(at != std::string::npos && tif != std::string::npos) << log;
    ASSERT_NE(log.find("result=0 ", tif), std::string::npos) << log;
    const std::string base = log.substr(at + 9, tif - at - 9);
    for (int p = 0; p < 2; ++p) {
      fs::path pbm = base + "-p" + std::to_string(p + 1) + ".pbm";
      auto got = ReadPbm(pbm);
      ASSERT_TRUE(got) << pbm;
      std::string why;
      if (maxBadRows == 0) {
        EXPECT_TRUE(SamePageBelowEfaxHeader(*got, pages_[static_cast<size_t>(p)], why)) << "page " << p + 1 << ": " << why;
      } else {
        EXPECT_LE(BadRowsBelowEfaxHeader(*got, pages_[static_cast<size_t>(p)]), maxBadRows) << "page " << p + 1;
      }
    }
  }

  void ExpectEfaxPages(const fs::path& prefix, bool withHeader) {
    for (int p = 0; p < 2; ++p) {
      fs::path file = prefix.string() + ".00" + std::to_string(p + 1);
      auto got = ReadTiffPages(file);
      ASSERT_EQ(got.size(), 1u) << file;
      std::string why;
      const TBitmap& sent = pages_[static_cast<size_t>(p)];
      EXPECT_TRUE(withHeader ? SamePageBelowEfaxHeader(got[0], sent, why) : SamePage(got[0], sent, why))
          << "page " << p + 1 << ": " << why;
    }
  }

  void SendToFarEnd(const std::string& cls) {
    StartLine();
    int rc = linetest::Run(EfaxSend(1, cls, "200"), Log("efax"), 150s);
    ASSERT_EQ(rc, 0) << ReadText(Log("efax"));
    ExpectFarEndPages(FarEndResult(10s));
  }

  void ReceiveFromFarEnd(const std::string& cls) {
    StartLine();
    fs::path prefix = dir_.Path() / "rx";
    TProcess efax(EfaxReceive(1, cls, prefix), Log("efax"));
    std::this_thread::sleep_for(2s);  // let efax set the modem up
    ASSERT_EQ(line_->Control("send 101 " + doc_.string()), "OK");
    int rc = efax.Wait(150s);
    ASSERT_EQ(rc, 0) << ReadText(Log("efax"));
    ExpectEfaxPages(prefix, false);
    std::string log = FarEndResult(10s);
    EXPECT_NE(log.find("sent " + doc_.string() + " pages=2"), std::string::npos) << log;
  }

  void ModemToModem(const std::string& txClass, const std::string& rxClass) {
    StartLine();
    fs::path prefix = dir_.Path() / "rx";
    TProcess receiver(EfaxReceive(2, rxClass, prefix), Log("efax-rx"));
    std::this_thread::sleep_for(2s);
    int rc = linetest::Run(EfaxSend(1, txClass, "102"), Log("efax-tx"), 150s);
    ASSERT_EQ(rc, 0) << ReadText(Log("efax-tx"));
    ASSERT_EQ(receiver.Wait(30s), 0) << ReadText(Log("efax-rx"));
    ExpectEfaxPages(prefix, true);
  }

  TTempFolder dir_;
  std::unique_ptr<TLineProcess> line_;
  std::vector<TBitmap> pages_;
  std::vector<std::string> files_;
  fs::path doc_;
};

}  // namespace

TEST_F(FaxSession, Class1SendsToTheFarEnd) { SendToFarEnd("1"); }
TEST_F(FaxSession, Class2SendsToTheFarEnd) { SendToFarEnd("2"); }
TEST_F(FaxSession, Class20SendsToTheFarEnd) { SendToFarEnd("0"); }
TEST_F(FaxSession, Class1ReceivesFromTheFarEnd) { ReceiveFromFarEnd("1"); }
TEST_F(FaxSession, Class2ReceivesFromTheFarEnd) { ReceiveFromFarEnd("2"); }
TEST_F(FaxSession, Class20ReceivesFromTheFarEnd) { ReceiveFromFarEnd("0"); }

TEST_F(FaxSession, TwoEfaxFaxEachOther) { ModemToModem("1", "1"); }

// Both ends are this line's own Class 2 and 2.0 procedures here.
TEST_F(FaxSession, Class2EfaxFaxesClass20Efax) { ModemToModem("2", "0"); }

TEST_F(FaxSession, Class1FallsBackWhenTheLineDefeats14400) {
  // Noise 21 dB below the signal: V.17 at 14400 fails its training check,
  // 12000 passes (with the odd damaged row, as on a real noisy line).
  StartLine({"--snr", "21"});
  int rc = linetest::Run(EfaxSend(1, "1", "200"), Log("efax"), 150s);
  ASSERT_EQ(rc, 0) << ReadText(Log("efax"));
  EXPECT_NE(ReadText(Log("efax")).find("FTT"), std::string::npos);
  std::string log = FarEndResult(10s);
  const size_t at = log.find("rate=");
  ASSERT_NE(at, std::string::npos) << log;
  const int rate = std::atoi(log.c_str() + at + 5);
  EXPECT_LT(rate, 14400);
  EXPECT_GE(rate, 2400);
  // Without error correction a bit error spoils the rest of its row and the
  // noise is random: up to an eighth of the rows may differ (a wrong or
  // shifted page differs in most of them).
  ExpectFarEndPages(log, kPageRows / 8);
}

TEST_F(FaxSession, ALineDroppedInMidSessionFailsItAndFreesTheModem) {
  StartLine();
  TProcess efax(EfaxSend(1, "1", "200"), Log("efax"));
  // Wait until the call is up, then cut it while the pages are going out.
  bool up = false;
  for (int i = 0; i < 200 && !up; ++i) {
    up = line_->Control("status").find("connected") != std::string::npos;
    if (!up) std::this_thread::sleep_for(100ms);
  }
  ASSERT_TRUE(up);
  ASSERT_EQ(line_->Control("hangup 200 9000"), "OK");
  EXPECT_NE(efax.Wait(120s), 0) << ReadText(Log("efax"));
  std::string log = FarEndResult(10s);
  EXPECT_EQ(log.find("result=0 "), std::string::npos) << log;
  TModemClient m(line_->Link(1));
  ASSERT_TRUE(m.Open());
  EXPECT_NE(m.Command("ATE0", 3s).find("OK"), std::string::npos);
  EXPECT_NE(m.Command("AT", 3s).find("OK"), std::string::npos);
}
