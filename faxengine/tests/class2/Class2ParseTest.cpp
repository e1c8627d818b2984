// The T.30 parameter reports of Class 2 and Class 2.0 modems, read field by
// field as modems actually write them.

#include <gtest/gtest.h>

#include <string>

#include "faxengine/class2/Class2Parse.h"

namespace {

TEST(Class2Params, BlanksAfterCommasAndAroundFieldsDoNotShiftLaterFields) {
  for (const std::string line : {"+FDCS:1,5,1,2,0,1,0,7", "+FDCS: 1, 5, 1, 2, 0, 1, 0, 7", "+FDCS:1 ,5 ,1,2 ,0,1,0 ,7 ",
                                 "+FCS: 1,5,1,2,0,1,0,7,0", "+FIS:1, 5,1, 2,0, 1,0,7, 0"}) {
    SCOPED_TRACE(line);
    TFxClass2Params p;
    ASSERT_TRUE(FxParseParams(line, p));
    EXPECT_TRUE(p.fine);
    EXPECT_EQ(p.bps, 14400);
    EXPECT_TRUE(p.wide);
    EXPECT_TRUE(p.ecm);
    EXPECT_EQ(p.scanTimeCode, 7);
  }
}

TEST(Class2Params, Class20ReportsAreHexadecimal) {
  TFxClass2Params p;
  // Speed codes above 5 are the V.34 rates; "B" is 28800.
  ASSERT_TRUE(FxParseParams("+FCS:0,B,0,2,0,1,0,0,0", p));
  EXPECT_EQ(p.bps, 28800);
  EXPECT_FALSE(p.fine);
  ASSERT_TRUE(FxParseParams("+FCS:0,d,0,2,0,1,0,0,0", p));
  EXPECT_EQ(p.bps, 33600);
  // Resolution is a set of bits: 3 is fine and superfine, so fine.
  ASSERT_TRUE(FxParseParams("+FIS:3,5,0,2,0,0,0,0,0", p));
  EXPECT_TRUE(p.fine);
  // A two-digit field: the rest still lines up.
  ASSERT_TRUE(FxParseParams("+FIS:41,3,1,2,0,0,0,5,0", p));
  EXPECT_TRUE(p.fine);
  EXPECT_EQ(p.bps, 9600);
  EXPECT_TRUE(p.wide);
  EXPECT_EQ(p.scanTimeCode, 5);
  ASSERT_TRUE(FxParseParams("+FIS:10,3,0,2,0,0,0,5,0", p));
  EXPECT_FALSE(p.fine);
}

TEST(Class2Params, ImpossibleValuesAreErrorsAndLeaveTheParametersAlone) {
  TFxClass2Params p;
  p.bps = 4800;
  p.fine = true;
  for (const std::string line :
       {"+FDCS:", "+FDCS:1", "+FDCS:0,9,0,2,0,0,0,0",  // Class 2 speeds end at 5
        "+FDCS:0,B,0,2,0,0,0,0",                        // no hexadecimal under Class 2
        "+FDCS:0,10,0,2,0,0,0,0", "+FDCS:2,3,0,2,0,0,0,0", "+FDCS:0,3,0,2,0,0,0,8", "+FCS:0,E,0,2,0,0,0,0,0",
        "+FCS:0,3,0,2,0,0,0,8,0", "+FDCS:0,,0,2,0,0,0,0", "+FDCS:0,3,0,2,0,0,0,0,0,0", "+FDCS:0 3,0,2,0,0,0,0",
        "+FDCS:0,3x,0,2,0,0,0,0", "+FDCS:0,-1,0,2,0,0,0,0", "+FCS:0,99999999999,0,2,0,0,0,0,0", "+FDCS:0,3,"}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(FxParseParams(line, p));
    EXPECT_EQ(p.bps, 4800);
    EXPECT_TRUE(p.fine);
  }
  // The caller learns which field and why.
  TFxParamsResult r = FxParseParams("+FDCS: 0, 9,0,2,0,0,0,0", p);
  EXPECT_EQ(r.error, TFxParamsError::peOutOfRange);
  EXPECT_EQ(r.field, 2);
  r = FxParseParams("+FCS:0,3,0,2,0,0,0,0,0,0", p);
  EXPECT_EQ(r.error, TFxParamsError::peTooMany);
  EXPECT_EQ(r.field, 10);
  r = FxParseParams("+FDIS:1", p);
  EXPECT_EQ(r.error, TFxParamsError::peMissing);
  EXPECT_EQ(r.field, 2);
  r = FxParseParams("+FDIS:1,3,z", p);
  EXPECT_EQ(r.error, TFxParamsError::peMalformed);
  EXPECT_EQ(r.field, 3);
}

}  // namespace
