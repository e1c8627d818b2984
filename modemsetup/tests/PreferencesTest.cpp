// The preferences wizard over a real CV.INI: which key each control writes,
// values outside the lists, Cancel, refused entries and the first-start rule.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "modemsetup/PreferenceFields.h"
#include "modemsetup/TPreferences.h"
#include "modemsetup/tests/BoxAnswers.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "testsupport/TempFolder.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

std::string ReadAll(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class PreferencesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(dir_.Path().string());
    SetFirstStart(false);
    Settings = TSettings{};
  }
  // A CV.INI as the program writes it, from the defaults changed by edit.
  void WriteIni(const std::function<void(TSettings&)>& edit = {}) {
    std::filesystem::remove(IniFileName());
    ReadSettings();
    Settings.ComPort = 0;
    if (edit) edit(Settings);
    ASSERT_TRUE(WriteSettings());
    ReadSettings();
  }
  // Opens the wizard on the settings as read, lets act work it, and presses
  // "&Finish", answering Yes to its question. True when it closed with OK.
  bool Finish(const std::function<void(TPreferences&)>& act) {
    TPreferences wizard;
    wizard.show();
    act(wizard);
    TBoxAnswers yes(QMessageBox::Yes);
    wizard.ShowPage(TPreferences::kPageCount - 1);
    wizard.FinishButton->click();
    questions_ = yes.captions;
    return wizard.result() == QDialog::Accepted;
  }

  TTempFolder dir_;
  QStringList questions_;
};

struct TControlCase {
  const char* what;
  std::function<void(TPreferences&)> change;
  const char* lines;  // the lines of CV.INI it must change, as they become, "|" between
};

TEST_F(PreferencesTest, EachControlWritesItsOwnKeyAndNoOther) {
  const TControlCase cases[] = {
      {"port", [](TPreferences& w) { w.ComPort->setCurrentIndex(2); }, "ComPort=2"},
      {"pulse", [](TPreferences& w) { w.ToneOrPulse->setCurrentIndex(1); }, "ToneOrPulse=1"},
      {"reset", [](TPreferences& w) { w.ResetString->setText("ATZ"); }, "String=ATZ"},
      {"after", [](TPreferences& w) { w.ResetAfterString->setText("AT&F"); }, "AfterString=AT&F"},
      {"class", [](TPreferences& w) { w.FaxClass->setCurrentIndex(3); }, "FaxClass=3"},
      {"rate", [](TPreferences& w) { w.TransferRate->setCurrentIndex(5); }, "MaximumBPS=14400"},
      {"init", [](TPreferences& w) { w.ModemInit->setText("AT&F&C1"); }, "InitString=AT&F&C1"},
      {"fax", [](TPreferences& w) { w.FaxNumber->setText("+44 20 7946 0000"); }, "Fax=+44 20 7946 0000"},
      {"name", [](TPreferences& w) { w.Name->setText("Ann Smith"); }, "Name=Ann Smith"},
      {"ecm", [](TPreferences& w) { w.UseECM->setChecked(true); }, "ECM=1"},
      {"prefix", [](TPreferences& w) { w.DialPrefix->setText("9,"); }, "DialPrefix=9,"},
      {"suffix", [](TPreferences& w) { w.DialSuffix->setText("#"); }, "DialSuffix=#"},
      {"attempts", [](TPreferences& w) { w.DialAttempts->setText(" 7 "); }, "DialAttempts=7"},
      {"wait", [](TPreferences& w) { w.RetryWait->setText("120"); }, "RetryWait=120"},
      {"blind", [](TPreferences& w) { w.CheckBlindDial->setChecked(true); }, "BlindDial=1"},
      {"busy", [](TPreferences& w) { w.CheckIgnoreBusy->setChecked(true); }, "IgnoreBusy=1"},
      {"reneg", [](TPreferences& w) { w.RenegotiateBetween->setChecked(true); }, "RenegotiateBetween=1"},
      {"rclass", [](TPreferences& w) { w.FaxClassReceive->setCurrentIndex(2); }, "FaxClassReceive=2"},
      {"rrate", [](TPreferences& w) { w.TransferRateReceive->setCurrentIndex(0); }, "MaximumBPSReceive=2400"},
      {"rinit", [](TPreferences& w) { w.ModemInitReceive->setText("ATS0=0"); }, "InitStringReceive=ATS0=0"},
      {"same class",
       [](TPreferences& w) {
         w.FaxClass->setCurrentIndex(2);
         w.SameClassButton->click();
       },
       "FaxClass=2|FaxClassReceive=2"},
      {"same rate",
       [](TPreferences& w) {
         w.TransferRate->setCurrentIndex(0);
         w.SameRateButton->click();
       },
       "MaximumBPS=2400|MaximumBPSReceive=2400"},
      {"same init",
       [](TPreferences& w) {
         w.ModemInit->setText("ATX3");
         w.SameInitButton->click();
       },
       "InitString=ATX3|InitStringReceive=ATX3"},
      {"rings", [](TPreferences& w) { w.AnswerOnRing->setCurrentIndex(3); }, "AnswerOnRing=4"},
      {"startup", [](TPreferences& w) { w.ReceiveAtStartup->setChecked(true); }, "AtStartup=1"},
      {"recm", [](TPreferences& w) { w.UseECMReceive->setChecked(true); }, "ECMReceive=1"},
      {"wav", [](TPreferences& w) { w.WaveFileEdit->setText("/tmp/ring.wav"); }, "Wav=/tmp/ring.wav"},
      {"print", [](TPreferences& w) { w.PrintFaxOnReceipt->setChecked(true); }, "PrintOnReceipt=1"},
      {"notice", [](TPreferences& w) { w.DisableReceivingFaxesNotification->setChecked(true); },
       "DisableReceivingFaxesNotification=1"},
      {"rage", [](TPreferences& w) { w.ImposeWaitBeforePrinting->setChecked(true); },
       "ImposeWaitBeforePrinting=1"},
  };
  for (const TControlCase& c : cases) {
    SCOPED_TRACE(c.what);
    WriteIni();
    const std::string before = ReadAll(IniFileName());
    ASSERT_TRUE(Finish(c.change));
    const auto a = Lines(before), b = Lines(ReadAll(IniFileName()));
    ASSERT_EQ(a.size(), b.size());
    std::string changed;
    for (size_t i = 0; i < a.size(); ++i)
      if (a[i] != b[i]) changed += (changed.empty() ? "" : "|") + b[i].substr(0, b[i].size() - 1);
    EXPECT_EQ(changed, c.lines);
  }
}

TEST_F(PreferencesTest, ValuesOutsideTheListsShowTheNearestChoiceAndStayUnlessChanged) {
  WriteIni([](TSettings& s) {
    s.MaximumBPS = 5000;
    s.MaximumBPSReceive = 99999;
    s.AnswerOnRing = 12;
    s.FaxClass = 9;
    s.ToneOrPulse = -4;
    s.PrintOnReceiptPrinter = "A printer long gone";
  });
  const std::string before = ReadAll(IniFileName());
  ASSERT_TRUE(Finish([](TPreferences& w) {
    EXPECT_EQ(w.TransferRate->currentText(), "4800");
    EXPECT_EQ(w.TransferRateReceive->currentText(), "14400");
    EXPECT_EQ(w.AnswerOnRing->currentText(), "8");
    EXPECT_EQ(w.FaxClass->currentText(), "class 2.0");
    EXPECT_EQ(w.ToneOrPulse->currentText(), "Tone");
    EXPECT_EQ(w.PrintFaxOnReceiptPrinter->currentText(), "Default Windows Printer");
  }));
  EXPECT_EQ(ReadAll(IniFileName()), before);

  ASSERT_TRUE(Finish([](TPreferences& w) { w.TransferRate->setCurrentIndex(3); }));
  ReadSettings();
  EXPECT_EQ(Settings.MaximumBPS, 9600);
  EXPECT_EQ(Settings.MaximumBPSReceive, 99999);
  EXPECT_EQ(Settings.AnswerOnRing, 12);
}

TEST_F(PreferencesTest, APortBeyondTheListKeepsItsOwnEntry) {
  WriteIni([](TSettings& s) { s.ComPort = 9; });
  const std::string before = ReadAll(IniFileName());
  ASSERT_TRUE(Finish([](TPreferences& w) {
    EXPECT_EQ(w.ComPort->currentText(), "Com10 (/dev/ttyS9)");
    w.ComPort->setCurrentIndex(0);
    w.ComPort->setCurrentIndex(6);
  }));
  EXPECT_EQ(ReadAll(IniFileName()), before);
  ASSERT_TRUE(Finish([](TPreferences& w) { w.ComPort->setCurrentIndex(3); }));
  ReadSettings();
  EXPECT_EQ(Settings.ComPort, 3);
}

TEST_F(PreferencesTest, CancelAfterChangesLeavesFileAndSettingsAsTheyWere) {
  // A hand-edited file: comments, odd spelling and a section of another program.
  {
    std::ofstream out(IniFileName(), std::ios::binary);
    out << "; my modem\n[modem]\ncomport = 1\nInitString=ATQ0\n[Other Program]\nx=1\n";
  }
  ReadSettings();
  const std::string before = ReadAll(IniFileName());
  const TSettings settings = Settings;
  {
    TPreferences wizard;
    wizard.show();
    wizard.ComPort->setCurrentIndex(4);
    wizard.ModemInit->setText("ATZ");
    wizard.DialAttempts->setText("9");
    wizard.CheckBlindDial->setChecked(true);
    wizard.NoneButton->click();
    wizard.CancelButton->click();
    EXPECT_EQ(wizard.result(), QDialog::Rejected);
  }
  EXPECT_EQ(ReadAll(IniFileName()), before);
  EXPECT_EQ(Settings.ComPort, settings.ComPort);
  EXPECT_EQ(Settings.InitString, "ATQ0");
  EXPECT_EQ(Settings.DialAttempts, settings.DialAttempts);
  EXPECT_FALSE(Settings.BlindDial);
}

TEST_F(PreferencesTest, EntriesTheFileCannotHoldAreRefusedOnTheirPage) {
  WriteIni();
  const std::string before = ReadAll(IniFileName());
  struct TBad {
    std::function<void(TPreferences&)> enter;
    int page;
    QString message;
  };
  const TBad bad[] = {
      {[](TPreferences& w) { w.DialAttempts->setText("abc"); }, 4,
       "Dial attempts must be a whole number from 1 to 20."},
      {[](TPreferences& w) { w.RetryWait->setText("99999999999"); }, 4,
       "The retry wait (seconds) must be a whole number from 0 to 3600."},
      {[](TPreferences& w) { w.ModemInit->setText("AT" + QString(298, 'E')); }, 2,
       "The modem init string is too long for a modem: at most 40 characters after \"AT\"."},
      {[](TPreferences& w) { w.ModemInitReceive->setText("ATZ\r\n[Modem]\r\nComPort=5"); }, 5,
       "The modem init string for receiving must be one line without control characters."},
      {[](TPreferences& w) { w.Name->setText("Ann\nSmith"); }, 3,
       "The name must be one line without control characters."},
  };
  for (const TBad& b : bad) {
    SCOPED_TRACE(b.message.toStdString());
    TPreferences wizard;
    wizard.show();
    b.enter(wizard);
    TBoxAnswers yes(QMessageBox::Yes);
    wizard.FinishButton->click();
    EXPECT_TRUE(yes.captions.isEmpty());
    EXPECT_TRUE(wizard.isVisible());
    EXPECT_EQ(wizard.Page(), b.page);
    EXPECT_EQ(wizard.ValidationText(), b.message);
    EXPECT_EQ(ReadAll(IniFileName()), before);
  }
  // A number the file already held out of range is left alone until edited.
  WriteIni([](TSettings& s) { s.RetryWait = 99999; });
  ASSERT_TRUE(Finish([](TPreferences& w) { w.Name->setText("Bo"); }));
  ReadSettings();
  EXPECT_EQ(Settings.RetryWait, 99999);
  EXPECT_EQ(Settings.Name, "Bo");
}

TEST_F(PreferencesTest, FirstStartMustVisitEveryPageBeforeFinishing) {
  WriteIni();
  SetFirstStart(true);
  {
    TPreferences wizard;
    EXPECT_FALSE(FirstStart());
    wizard.show();
    EXPECT_TRUE(wizard.FirstTimeLabel->isVisible());
    for (int page = 0; page < TPreferences::kPageCount - 1; ++page) {
      EXPECT_EQ(wizard.Page(), page);
      EXPECT_FALSE(wizard.FinishButton->isEnabled()) << page;
      EXPECT_EQ(wizard.BackButton->isEnabled(), page > 0);
      EXPECT_EQ(wizard.PageLabel->text(), wizard.PageCombo->itemText(page));
      wizard.NextButton->click();
    }
    EXPECT_TRUE(wizard.FinishButton->isEnabled());
    EXPECT_FALSE(wizard.NextButton->isEnabled());
    EXPECT_EQ(wizard.PageLabel->text(), "Advanced");
    wizard.PageCombo->setCurrentIndex(2);
    emit wizard.PageCombo->activated(2);
    EXPECT_EQ(wizard.Pages->currentIndex(), 2);
  }
  TPreferences later;
  later.show();
  EXPECT_FALSE(later.FirstTimeLabel->isVisible());
  for (int page = 0; page < TPreferences::kPageCount; ++page) {
    later.ShowPage(page);
    EXPECT_TRUE(later.FinishButton->isEnabled()) << page;
  }
}

TEST_F(PreferencesTest, SoundFileThatIsNotAWaveIsNamedAsSuch) {
  WriteIni();
  const auto text = dir_.Path() / "notes.wav";
  std::ofstream(text) << "not a sound at all";
  TPreferences wizard;
  wizard.WaveFileEdit->setText(QString::fromStdString(text.string()));
  wizard.PlayNowButton->click();
  EXPECT_EQ(wizard.WaveLabel->text(), "This file is not a WAVE sound and cannot be played.");
  wizard.WaveFileEdit->setText(QString::fromStdString((dir_.Path() / "gone.wav").string()));
  wizard.PlayNowButton->click();
  EXPECT_EQ(wizard.WaveLabel->text(), "There is no sound file of that name.");
  // A real sound plays without holding up the window, wherever it can play.
  const auto wave = dir_.Path() / "ring.wav";
  {
    std::ofstream out(wave, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t samples = 800;
    out << "RIFF";
    u32(36 + samples * 2);
    out << "WAVEfmt ";
    u32(16), u16(1), u16(1), u32(8000), u32(16000), u16(2), u16(16);
    out << "data";
    u32(samples * 2);
    for (uint32_t i = 0; i < samples; ++i) u16(static_cast<uint16_t>((i % 20) * 1000));
  }
  wizard.WaveFileEdit->setText(QString::fromStdString(wave.string()));
  wizard.PlayNowButton->click();
  EXPECT_TRUE(wizard.WaveLabel->text().isEmpty());
  QTest::qWait(200);
  wizard.NoneButton->click();
  EXPECT_TRUE(wizard.WaveFileEdit->text().isEmpty());
}

TEST(PreferenceFields, PortChoicesNameTheirDevices) {
  TTempFolder dir;
  const auto ini = dir.Path() / "CV.INI";
  std::ofstream(ini) << "[Ports]\nCOM3=/dev/ttyACM0\n";
  EXPECT_EQ(PortChoiceText(1, ini), "Com1 (/dev/ttyS0)");
  EXPECT_EQ(PortChoiceText(3, ini), "Com3 (/dev/ttyACM0)");
  EXPECT_EQ(NearestRateIndex(5000), 1);
  EXPECT_EQ(NearestRateIndex(0), 0);
  EXPECT_EQ(NearestRateIndex(1 << 30), 5);
}

}  // namespace
