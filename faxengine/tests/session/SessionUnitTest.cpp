// Text tables, the exception tree, the Class 2 text parsers, the history
// lines and the component properties that need no modem.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "faxengine/class2/Class2Parse.h"
#include "faxengine/session/AbstractFax.h"
#include "faxengine/session/FxExceptions.h"
#include "faxengine/session/PageTime.h"
#include "faxengine/text/FxStrings.h"
#include "faximage/Apf.h"
#include "testsupport/TempFolder.h"

namespace fs = std::filesystem;

TEST(FxStrings, TablesUseTheStr0LayoutAndLookUpByIdentifier) {
  const auto table = FxBuildStringTable({{7, "seven"}, {2, "two"}, {40, "forty"}});
  ASSERT_GE(table.size(), 8u + 3 * 12);
  EXPECT_EQ(std::string(table.begin(), table.begin() + 4), "STR0");
  EXPECT_EQ(table[4], 3);
  EXPECT_EQ(table[8], 2);  // sorted by identifier
  TFxStringResource r(table);
  EXPECT_EQ(r.GetString(7), "seven");
  EXPECT_EQ(r.GetString(40, 3), "for");
  EXPECT_EQ(r.GetString(3), "");
  TFxStringResource strict(table, true);
  EXPECT_THROW(
      {
        try {
          strict.GetString(3);
        } catch (const EFxStringResourceError& e) {
          EXPECT_STREQ(e.what(), "String not found: 3");
          throw;
        }
      },
      EFxStringResourceError);
}

TEST(FxStrings, CorruptTablesNeverReadOutside) {
  auto table = FxBuildStringTable({{1, "one"}});
  table[8 + 4] = 0xFF;  // offset far beyond the table
  TFxStringResource r(table);
  EXPECT_EQ(r.GetString(1), "");
  std::vector<uint8_t> header{'S', 'T', 'R', '0', 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_EQ(TFxStringResource(header).Count(), 0u);
  EXPECT_THROW(TFxStringResource(header, true), EFxStringResourceError);
}

TEST(FxStrings, ProgressAndErrorTexts) {
  EXPECT_EQ(FxProgressText(3), "Busy, waiting until redial...");
  EXPECT_EQ(FxProgressText(43), "Finished");
  EXPECT_EQ(FxProgressText(9), "");
  EXPECT_EQ(FxProgressText(44), "");
  EXPECT_EQ(FxErrorText(-8074), "Remote fax did not answer");
  EXPECT_EQ(FxErrorText(-6005), "Cancel requested");
  EXPECT_EQ(FxErrorText(-160), "Device write error");
  // Codes outside the table take the system's text.
  EXPECT_FALSE(FxErrorText(-13).empty());
  for (char c : FxErrorText(-13)) EXPECT_GE(static_cast<unsigned char>(c), 32);
}

TEST(FxExceptions, CodesRaiseTheirBranchOfTheTree) {
  auto code = [](int c) {
    try {
      RaiseFxError(c);
    } catch (const EFxException& e) {
      return std::make_pair(e.ErrorCode(), std::string(e.what()));
    }
    return std::make_pair(0, std::string());
  };
  EXPECT_THROW(RaiseFxError(-8064), EFaxBusy);
  EXPECT_THROW(RaiseFxError(-8064), EFax);
  EXPECT_THROW(RaiseFxError(-1005), EPortNotAssigned);
  EXPECT_THROW(RaiseFxError(-1005), EGeneral);
  EXPECT_THROW(RaiseFxError(-5003), EBadTriggerHandle);
  EXPECT_THROW(RaiseFxError(-5003), ETrigger);
  EXPECT_THROW(RaiseFxError(-2001), EOpenComm);
  EXPECT_THROW(RaiseFxError(-6006), EProtocol);
  EXPECT_THROW(RaiseFxError(-3006), EOutputBufferTooSmall);
  EXPECT_THROW(RaiseFxError(-2), EInOutError);
  EXPECT_EQ(code(-8001), std::make_pair(-8001, std::string("File is not an APF file")));
  EXPECT_EQ(code(-99999).second, "Fax engine exception");
}

TEST(Class2Parse, ReplyCollectorEndsTrimsAndBoundsLines) {
  TFxReplyCollector c;
  std::vector<std::string> lines;
  for (char ch : std::string("\r\n  OK  \r\n\x11+FCON\r\n\r\n"))
    if (c.Feed(static_cast<uint8_t>(ch))) lines.push_back(c.Line());
  EXPECT_EQ(lines, (std::vector<std::string>{"OK", "+FCON"}));
  for (int i = 0; i < 1000; ++i) c.Feed('x');
  ASSERT_TRUE(c.Feed('\r'));
  EXPECT_EQ(c.Line().size(), TFxReplyCollector::kMaxLine);
}

TEST(Class2Parse, SessionParametersAndSpeeds) {
  TFxClass2Params p;
  ASSERT_TRUE(FxParseParams("+FDCS:1,5,1,2,0,1,0,7", p));
  EXPECT_TRUE(p.fine);
  EXPECT_EQ(p.bps, 14400);
  EXPECT_TRUE(p.wide);
  EXPECT_TRUE(p.ecm);
  EXPECT_EQ(p.scanTimeCode, 7);
  ASSERT_TRUE(FxParseParams("+FCS: 0,9", p));  // Class 2.0 speed code 9: 24000
  EXPECT_FALSE(p.fine);
  EXPECT_EQ(p.bps, 24000);
  EXPECT_FALSE(FxParseParams("+FDCS:", p));
  EXPECT_EQ(FxSpeedCode(7200), '2');
  EXPECT_EQ(FxSpeedCode(1234), '3');
  EXPECT_EQ(FxMinScanMs(2, false), 10u);
  EXPECT_EQ(FxMinScanMs(2, true), 5u);
  EXPECT_EQ(FxMinLineBytes(7, true, 14400), 72u);
  EXPECT_EQ(FxMinScanMs(9, false), 0u);
}

TEST(Class2Parse, OfferedParametersReadBackAsOffered) {
  TFxClass2Params offer;
  offer.fine = true;
  offer.bps = 14400;
  offer.ecm = true;
  EXPECT_EQ(FxParamString(offer), "1,5,0,2,0,1,0,0");
  TFxClass2Params back;
  ASSERT_TRUE(FxParseParams("+FDIS:" + FxParamString(offer), back));
  EXPECT_TRUE(back.fine);
  EXPECT_EQ(back.bps, 14400);
  EXPECT_TRUE(back.ecm);
  offer = TFxClass2Params();
  offer.wide = true;
  offer.bps = 4800;
  EXPECT_EQ(FxParamString(offer), "0,1,1,2,0,0,0,0");
  // Only Class 2.0 has the flow control and report set-up.
  EXPECT_TRUE(FxClass2Commands(false).extraSetup.empty());
  EXPECT_EQ(FxClass2Commands(true).extraSetup, (std::vector<std::string>{"AT+FLO=2", "AT+FNR=1,1,1,0"}));
}

TEST(Class2Parse, HangupAndPageStatusValuesRemoteIdsAndTags) {
  EXPECT_EQ(FxHangupValue("+FHNG:50"), 50);
  EXPECT_EQ(FxHangupValue("+FHS: 2"), 2);
  EXPECT_EQ(FxHangupValue("+FHS:"), 0);
  EXPECT_EQ(FxPageStatusValue("+FPTS:1"), 1);
  EXPECT_EQ(FxPageStatusValue("+FPTS:1,2200,0,0"), 1);
  EXPECT_EQ(FxPageStatusValue("+FPS: 2,1100,3,0,0"), 2);
  EXPECT_EQ(FxPageStatusValue("+FPS:12"), -1);
  EXPECT_EQ(FxPageStatusValue("+FPS:"), -1);
  EXPECT_EQ(FxCleanRemoteId("+FCSI:\"+1 555 0200\"  "), "+1 555 0200");
  EXPECT_EQ(FxCleanRemoteId("+FTI:\"ABCDEFGHIJKLMNOPQRSTUVWXYZ\""), "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(FxCleanRemoteId("+FTSI:\"+1\a555\x1b[2J\x01 02\xff\x7f" "00\""), "+1555[2J 0200");
  TFxHeaderTags t;
  t.date = "12/08/26";
  t.totalPages = 3;
  t.currentPage = 2;
  EXPECT_EQ(FxReplaceHeaderTags("$D Page $p of $N $Xyz end", t), "12/08/26 Page 2 of 3  end");
  const uint8_t in[] = {1, 0x10, 2, 0x10};
  uint8_t out[8];
  ASSERT_EQ(FxEscapeData(in, 4, out), 6u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{1, 0x10, 0x10, 2, 0x10, 0x10}));
}

TEST(FaxComponents, ModemInitIsStoredInCapitalsWithAt) {
  TFxReceiveFax fax;
  fax.SetModemInit("&f");
  EXPECT_EQ(fax.ModemInit(), "AT&F");
  fax.SetModemInit("at" + std::string(60, 'x'));
  EXPECT_EQ(fax.ModemInit().size(), 40u);
}

TEST(FaxComponents, ReceiveNamesTakeTheFirstFreeNumber) {
  TTempFolder dir;
  TFxReceiveFax fax;
  fax.DestinationDir = dir.Path().string();
  for (int i = 1; i <= 3; ++i) std::ofstream(dir.Path() / ("FAX000" + std::to_string(i) + ".APF")) << "x";
  EXPECT_EQ(fax.DefaultFaxName(), dir.Path().string() + "/FAX0004.APF");
}

TEST(FaxComponents, StartWithoutPortRaisesAndCancelWhileIdleDoesNothing) {
  TFxSendFax fax;
  EXPECT_THROW(fax.StartTransmit(), EPortNotAssigned);
  fax.AbortFax();
  EXPECT_FALSE(fax.Active());
  EXPECT_EQ(fax.TotalPages(), 0);
  TFxComPort port;
  port.SetOutSize(4096);
  fax.SetComPort(&port);  // sets 8192
  port.SetOutSize(4096);
  EXPECT_THROW(fax.StartTransmit(), EOutputBufferTooSmall);
}

TEST(FaxComponents, FaxFileReadsAndReplacesTheList) {
  TFxSendFax fax;
  fax.SetFaxFileList({"A.APF", "B.APF"});
  EXPECT_EQ(fax.FaxFile(), "A.APF");
  fax.SetFaxFile("C.APF");
  EXPECT_EQ(fax.FaxFileList(), std::vector<std::string>{"C.APF"});
}

TEST(FaxLog, HistoryLines) {
  TFxSendFax fax;
  fax.SetPhoneNumber("555");
  fax.SetFaxFileList({"A.APF", "B.APF"});
  EXPECT_EQ(TFxFaxLog::LogLines(fax, 1, "D T"),
            "Transmit A.APF to 555 started at D T\r\nTransmit B.APF to 555 started at D T\r\n");
  EXPECT_EQ(TFxFaxLog::LogLines(fax, 3, "D T"), "Transmit failed at D T\r\n  (" + FxErrorText(0) + ") 0\r\n\r\n");
  TFxReceiveFax rx;
  EXPECT_EQ(TFxFaxLog::LogLines(rx, 6, "D T"), "Receive skipped at D T\r\n\r\n");
  TTempFolder dir;
  TFxFaxLog log;
  log.FaxHistoryName = (dir.Path() / "FAXENG.HIS").string();
  log.UpdateLog(rx, 5);
  log.UpdateLog(rx, 6);
  std::ifstream in(log.FaxHistoryName, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("Receive finished OK at "), std::string::npos);
  EXPECT_NE(text.find("Receive skipped at "), std::string::npos);
  log.FaxHistoryName.clear();
  log.UpdateLog(rx, 5);  // nothing written, nothing thrown
}

TEST(PageTime, ThePageEndWaitCoversThePagesAirtimeAtTheNegotiatedRate) {
  // 20,000 bytes at 2400 bit/s are 67 s on the line, more than the minute
  // a modem is given to answer on its own.
  const int32_t slow = PageEndWaitTicks(20000, 2400);
  EXPECT_GE(slow, SecsToTicks(60) + SecsToTicks(67));
  EXPECT_LT(slow, SecsToTicks(60) + SecsToTicks(69));
  EXPECT_LT(PageEndWaitTicks(20000, 14400), slow);
  // Nothing known about the page (or the rate) still leaves the minute.
  EXPECT_EQ(PageEndWaitTicks(0, 9600), SecsToTicks(60));
  EXPECT_EQ(PageEndWaitTicks(-5, 0), SecsToTicks(60));
  EXPECT_LE(PageEndWaitTicks(1L << 40, 2400), SecsToTicks(60 + 3600) + 1);
}
