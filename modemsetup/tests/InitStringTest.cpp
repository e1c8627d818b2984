// The init string helper's rules without its window: which choices a string
// stands for, which string the choices make, and that the two agree.

#include <gtest/gtest.h>

#include "modemsetup/InitString.h"

namespace {

TInitChoices Choices(int kind, bool longWait) { return {static_cast<TModemKind>(kind), longWait}; }

TEST(InitString, ComposesEachKindForSendingAndReceiving) {
  EXPECT_EQ(ComposeInitString(Choices(0, false), true), "AT&F&C1&D2&K3S7=65");
  EXPECT_EQ(ComposeInitString(Choices(0, true), true), "AT&F&C1&D2&K3S7=120");
  EXPECT_EQ(ComposeInitString(Choices(1, false), true), "AT&H3&I2&R2S7=90");
  EXPECT_EQ(ComposeInitString(Choices(2, false), true), "AT&H3&I2&R2S7=90S36=0");
  EXPECT_EQ(ComposeInitString(Choices(3, true), true), "AT&H3&I2&R2S7=120S36=8");
  EXPECT_EQ(ComposeInitString(Choices(4, false), true), "AT&H3&I2&R2S7=90S36=8S33=34");
  EXPECT_EQ(ComposeInitString(Choices(5, false), true), "AT&F&C1&D2\\Q3S7=90");
  // Receiving never waits longer, whatever the box says.
  for (int kind = 0; kind < kModemKindCount; ++kind)
    for (bool longWait : {false, true}) {
      const std::string s = ComposeInitString(Choices(kind, longWait), false);
      EXPECT_NE(s.find("S7=65"), std::string::npos) << s;
      EXPECT_EQ(s.find("S7=9"), std::string::npos) << s;
      EXPECT_EQ(s.find("S7=1"), std::string::npos) << s;
    }
}

TEST(InitString, PresetReadsBackEveryStringItMakes) {
  for (int kind = 0; kind < kModemKindCount; ++kind)
    for (bool longWait : {false, true}) {
      const std::string s = ComposeInitString(Choices(kind, longWait), true);
      const TInitChoices back = PresetInitChoices(s);
      EXPECT_EQ(static_cast<int>(back.modemType), kind) << s;
      // The Cirrus string has no "&H3"; its S7=90 is still its usual wait.
      EXPECT_EQ(back.longCarrierWait, longWait) << s;
    }
}

TEST(InitString, PresetFromStringsTheUserTyped) {
  EXPECT_EQ(static_cast<int>(PresetInitChoices("AT&H3&I2&R2S7=90").modemType), 1);
  EXPECT_FALSE(PresetInitChoices("AT&H3&I2&R2S7=90").longCarrierWait);
  EXPECT_EQ(static_cast<int>(PresetInitChoices("AT&F&C1&D2&K3S7=120").modemType), 0);
  EXPECT_TRUE(PresetInitChoices("AT&F&C1&D2&K3S7=120").longCarrierWait);
  // Letter case does not matter for the commands, first match wins.
  EXPECT_EQ(static_cast<int>(PresetInitChoices("at&r2s36=0s33=34").modemType), 2);
  EXPECT_EQ(static_cast<int>(PresetInitChoices("ATs33=34S36=8").modemType), 4);
  EXPECT_EQ(static_cast<int>(PresetInitChoices("at\\q3").modemType), 5);
  // "&h3" in small letters does not raise the usual wait of a Hayes string.
  EXPECT_TRUE(PresetInitChoices("AT&h3s7=80").longCarrierWait);
  EXPECT_FALSE(PresetInitChoices("AT&H3S7=80").longCarrierWait);
  EXPECT_TRUE(PresetInitChoices("ATS7=66").longCarrierWait);
  EXPECT_FALSE(PresetInitChoices("ATS7=65").longCarrierWait);
}

TEST(InitString, PresetSurvivesOddS7Values) {
  for (const char* s : {"", "AT", "ATS7=", "ATS7=X", "S7=", "ATS7=-5", "ATS7=9A9", "ATS7= 99"})
    EXPECT_FALSE(PresetInitChoices(s).longCarrierWait) << s;
  // Only three digits count: 1200 reads as 120.
  EXPECT_TRUE(PresetInitChoices("ATS7=1200").longCarrierWait);
  // Trailing letters end the number; a short tail at the end of the string is fine.
  EXPECT_TRUE(PresetInitChoices("ATS7=99S").longCarrierWait);
  EXPECT_TRUE(PresetInitChoices("AT&F S7=7").longCarrierWait == false);
  EXPECT_TRUE(PresetInitChoices("ATs7=99").longCarrierWait);
  const std::string huge(100000, '9');
  EXPECT_TRUE(PresetInitChoices("ATS7=" + huge).longCarrierWait);
}

}  // namespace
