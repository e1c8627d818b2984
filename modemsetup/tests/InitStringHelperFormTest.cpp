// The init string helper window: presets, what each button leaves, the box
// shown only for sending, and its label working the box.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include "modemsetup/TModemInitStringHelperForm.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

TEST(InitStringHelperForm, PresetsFromTheCurrentString) {
  TModemInitStringHelperForm usr("AT&H3&I2&R2S7=90", true);
  EXPECT_EQ(usr.windowTitle(), "Modem Initialization String Helper");
  EXPECT_EQ(usr.ModemType->currentIndex(), 1);
  EXPECT_FALSE(usr.CheckAT7->isChecked());
  EXPECT_EQ(usr.ModemType->count(), 6);
  EXPECT_EQ(usr.ModemType->itemText(5), "Cirrus Logic or AT&T modem");

  TModemInitStringHelperForm hayes("AT&F&C1&D2&K3S7=120", true);
  EXPECT_EQ(hayes.ModemType->currentIndex(), 0);
  EXPECT_TRUE(hayes.CheckAT7->isChecked());
}

TEST(InitStringHelperForm, ButtonsLeaveComposedBlankOrUnchangedString) {
  TModemInitStringHelperForm ok("", true);
  ok.ModemType->setCurrentIndex(4);
  ok.CheckAT7->setChecked(true);
  ok.OKButton->click();
  EXPECT_EQ(ok.result(), TModemInitStringHelperForm::kOk);
  EXPECT_EQ(ok.Result(), "AT&H3&I2&R2S7=120S36=8S33=34");

  TModemInitStringHelperForm cancel("ATZ", true);
  cancel.ModemType->setCurrentIndex(2);
  cancel.CancelButton->click();
  EXPECT_EQ(cancel.result(), TModemInitStringHelperForm::kCancel);
  EXPECT_EQ(cancel.Result(), "ATZ");

  TModemInitStringHelperForm blank("ATZ", true);
  blank.BlankButton->click();
  EXPECT_EQ(blank.result(), TModemInitStringHelperForm::kLeaveBlank);
  EXPECT_EQ(blank.Result(), "");
}

TEST(InitStringHelperForm, ReceivingHidesTheBoxAndAlwaysWaitsTheUsualTime) {
  // A receiving string that once carried a long wait: the box is preset but
  // neither shown nor used.
  TModemInitStringHelperForm form("AT&F&C1&D2\\Q3S7=120", false);
  form.show();
  EXPECT_EQ(form.ModemType->currentIndex(), 5);
  EXPECT_FALSE(form.CheckAT7->isVisible());
  EXPECT_FALSE(form.CheckAT7Label->isVisible());
  form.OKButton->click();
  EXPECT_EQ(form.Result(), "AT&F&C1&D2\\Q3S7=65");
}

TEST(InitStringHelperForm, ClickingTheLabelWorksTheBox) {
  TModemInitStringHelperForm form("", true);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_TRUE(form.CheckAT7Label->isVisible());
  EXPECT_FALSE(form.CheckAT7->isChecked());
  QTest::mouseClick(form.CheckAT7Label, Qt::LeftButton);
  EXPECT_TRUE(form.CheckAT7->isChecked());
  QTest::mouseClick(form.CheckAT7Label, Qt::LeftButton);
  EXPECT_FALSE(form.CheckAT7->isChecked());
}

TEST(InitStringHelperForm, HelperRunsModallyAndReturnsTheNewString) {
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* form = qobject_cast<TModemInitStringHelperForm*>(QApplication::activeModalWidget());
    if (!form) return;
    poll.stop();
    form->ModemType->setCurrentIndex(3);
    form->OKButton->click();
  });
  poll.start(10);
  EXPECT_EQ(InitStringHelper("ATZ", true), "AT&H3&I2&R2S7=90S36=8");
}

}  // namespace
