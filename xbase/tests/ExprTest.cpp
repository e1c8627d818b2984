// xBase expressions evaluated on a real record buffer.
#include <gtest/gtest.h>

#include <cstring>

#include "xbase/Expr.h"
#include "xbase/tests/TestUtil.h"

namespace {

class ExprTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fields_ = {{"SUBJECT", 'C', 10, 0, 1}, {"DATESENT", 'D', 8, 0, 11}, {"TIMESENT", 'C', 5, 0, 19},
               {"PAGES", 'N', 3, 0, 24},   {"ARCHIVED", 'L', 1, 0, 27}, {"FROM", 'C', 8, 0, 28}};
    rec_.assign(36, ' ');
    Set("SUBJECT", "Smith Fax ");
    Set("DATESENT", "19981207");
    Set("TIMESENT", "14:05");
    Set("PAGES", "  7");
    Set("ARCHIVED", "T");
    Set("FROM", " smith  ");
    settings_.today = XbJulian(2026, 12, 8);
  }
  void Set(const char* name, const std::string& v) {
    for (const TDbfField& f : fields_)
      if (f.name == name) std::memcpy(rec_.data() + f.offset, v.data(), std::min<size_t>(v.size(), f.width));
  }
  TXbValue Eval(const std::string& e) {
    TXbValue v;
    const TXbEvalContext c{rec_.data(), 42, &settings_};
    const XbStatus st = XbEvaluate(e, fields_, c, v);
    EXPECT_TRUE(st.ok()) << e << ": " << st.Message();
    return v;
  }
  bool L(const std::string& e) {
    const TXbValue v = Eval(e);
    EXPECT_EQ(v.type, XbType::Logical) << e;
    return v.log;
  }
  std::string C(const std::string& e) {
    const TXbValue v = Eval(e);
    EXPECT_EQ(v.type, XbType::Character) << e;
    return v.str;
  }
  double N(const std::string& e) {
    const TXbValue v = Eval(e);
    EXPECT_EQ(v.type, XbType::Numeric) << e;
    return v.num;
  }
  XbError Err(const std::string& e) {
    TXbExpr x;
    return TXbExpr::Compile(e, fields_, x).code;
  }

  std::vector<TDbfField> fields_;
  std::vector<uint8_t> rec_;
  TXbSettings settings_;
};

}  // namespace

TEST_F(ExprTest, ExpressionsTheApplicationUses) {
  EXPECT_TRUE(L(".not. deleted()"));
  EXPECT_FALSE(L(".not. archived"));
  EXPECT_FALSE(L(".not. ARCHIVED"));
  EXPECT_TRUE(L("ARCHIVED"));
  EXPECT_EQ(C("DTOS(DATESENT)+TIMESENT"), "1998120714:05");
  EXPECT_EQ(C("UPPER(SUBJECT)"), "SMITH FAX ");
  EXPECT_TRUE(L(".true."));
  EXPECT_TRUE(L("(DATESENT<CTOD(\"12/08/98\")) .and. (.not. EMPTY(DATESENT))"));
  EXPECT_FALSE(L("(DATESENT<CTOD(\"12/07/98\")) .and. (.not. EMPTY(DATESENT))"));
  EXPECT_FALSE(L("EMPTY(DATESENT)"));
  EXPECT_TRUE(L(".not. EMPTY(DATESENT)"));
  EXPECT_TRUE(L("ALLTRIM(UPPER(FROM))==\"SMITH\""));
  EXPECT_FALSE(L("ALLTRIM(UPPER(FROM))==\"SMIT\""));
  EXPECT_TRUE(L("\"MIT\"$ALLTRIM(UPPER(FROM))"));
  EXPECT_FALSE(L("\"SMITHS\"$ALLTRIM(UPPER(FROM))"));
  rec_[0] = '*';
  EXPECT_FALSE(L(".not. deleted()"));
  EXPECT_TRUE(L("DELETED()"));
}

TEST_F(ExprTest, OperatorsAndPrecedence) {
  EXPECT_DOUBLE_EQ(N("1+2*3"), 7);
  EXPECT_DOUBLE_EQ(N("(1+2)*3"), 9);
  EXPECT_DOUBLE_EQ(N("2**3**1"), 8);
  EXPECT_DOUBLE_EQ(N("2^10"), 1024);
  EXPECT_DOUBLE_EQ(N("-PAGES+10"), 3);
  EXPECT_DOUBLE_EQ(N("PAGES%4"), 3);
  EXPECT_DOUBLE_EQ(N("7/2"), 3.5);
  EXPECT_DOUBLE_EQ(N("1/0"), 0);  // no trap, no infinity
  EXPECT_TRUE(L(".T. .or. .F. .and. .F."));  // .and. binds tighter
  EXPECT_FALSE(L("!.T."));
  EXPECT_TRUE(L(".not. .f."));
  EXPECT_TRUE(L("PAGES = 7 .AND. PAGES # 8 .AND. PAGES <> 6 .AND. PAGES != 5"));
  EXPECT_TRUE(L("PAGES >= 7 .and. PAGES <= 7 .and. PAGES > 6 .and. PAGES < 8"));
  EXPECT_TRUE(L(".TRUE. = .T. .and. .FALSE. = .F. .and. .y. .and. .not. .n."));
  EXPECT_EQ(C("\"ab  \" - \"cd\""), "abcd  ");
  EXPECT_EQ(C("'x'+[y]+\"z\""), "xyz");
  EXPECT_DOUBLE_EQ(N("CTOD(\"12/10/98\") - DATESENT"), 3);
  EXPECT_EQ(C("DTOS(DATESENT + 25)"), "19990101");
  EXPECT_EQ(C("DTOS(DATESENT - 7)"), "19981130");
  EXPECT_EQ(C("DTOS(1 + DATESENT)"), "19981208");
}

TEST_F(ExprTest, TextComparisonFollowsExact) {
  EXPECT_TRUE(L("SUBJECT = \"Smith\""));  // left cut to the right's length
  EXPECT_TRUE(L("SUBJECT = \"\""));
  EXPECT_FALSE(L("\"Sm\" = \"Smith\""));
  EXPECT_TRUE(L("\"Smith   \" = \"Smith\""));
  EXPECT_FALSE(L("SUBJECT == \"Smith\""));
  EXPECT_TRUE(L("SUBJECT == \"Smith Fax \""));
  EXPECT_TRUE(L("\"abc\" < \"abd\" .and. \"b\" > \"abc\""));
  settings_.exact = true;
  EXPECT_FALSE(L("SUBJECT = \"Smith\""));
  EXPECT_TRUE(L("SUBJECT = \"Smith Fax\""));  // trailing blanks still ignored
}

TEST_F(ExprTest, Functions) {
  EXPECT_EQ(C("LOWER(SUBJECT)"), "smith fax ");
  EXPECT_EQ(C("ALLTRIM(FROM)"), "smith");
  EXPECT_EQ(C("LTRIM(FROM)"), "smith  ");
  EXPECT_EQ(C("RTRIM(FROM)"), " smith");
  EXPECT_EQ(C("TRIM(FROM)"), " smith");
  EXPECT_EQ(C("SUBSTR(SUBJECT, 7)"), "Fax ");
  EXPECT_EQ(C("SUBSTR(SUBJECT, 7, 2)"), "Fa");
  EXPECT_EQ(C("SUBSTR(SUBJECT, 0, 2)"), "Sm");
  EXPECT_EQ(C("SUBSTR(SUBJECT, 99, 2)"), "");
  EXPECT_EQ(C("SUBSTR(SUBJECT, 2, -1)"), "");
  EXPECT_EQ(C("LEFT(SUBJECT, 3)"), "Smi");
  EXPECT_EQ(C("RIGHT(TIMESENT, 2)"), "05");
  EXPECT_EQ(C("LEFT(SUBJECT, 500)"), "Smith Fax ");
  EXPECT_DOUBLE_EQ(N("LEN(SUBJECT)"), 10);
  EXPECT_DOUBLE_EQ(N("LEN(ALLTRIM(FROM))"), 5);
  EXPECT_EQ(C("STR(PAGES)"), "         7");
  EXPECT_EQ(C("STR(PAGES, 3)"), "  7");
  EXPECT_EQ(C("STR(3.14159, 6, 2)"), "  3.14");
  EXPECT_EQ(C("STR(123456, 3)"), "***");
  EXPECT_DOUBLE_EQ(N("VAL(\"  42.5xyz\")"), 42.5);
  EXPECT_DOUBLE_EQ(N("VAL(\"abc\")"), 0);
  EXPECT_DOUBLE_EQ(N("RECNO()"), 42);
  EXPECT_EQ(C("IIF(ARCHIVED, \"Yes\", \"No \")"), "Yes");
  EXPECT_DOUBLE_EQ(N("IIF(PAGES > 10, 1, 2)"), 2);
  EXPECT_EQ(C("DTOS(DATE())"), "20261208");
  EXPECT_EQ(C("DTOC(DATESENT)"), "12/07/98");
  settings_.century = true;
  EXPECT_EQ(C("DTOC(DATESENT)"), "12/07/1998");
  settings_.dateFormat = XbDateFormat::German;
  EXPECT_EQ(C("DTOC(DATESENT)"), "07.12.1998");
  EXPECT_EQ(C("DTOS(CTOD(\"31.01.2001\"))"), "20010131");
  settings_.dateFormat = XbDateFormat::Ansi;
  EXPECT_EQ(C("DTOC(DATESENT)"), "1998.12.07");
  settings_.dateFormat = XbDateFormat::American;
  EXPECT_EQ(C("DTOS(STOD(\"20000229\"))"), "20000229");
  EXPECT_TRUE(L("EMPTY(STOD(\"20010229\"))"));  // no such day
  EXPECT_TRUE(L("EMPTY(CTOD(\"13/01/2001\"))"));
  EXPECT_TRUE(L("EMPTY(CTOD(\"\"))"));
  EXPECT_TRUE(L("EMPTY(\"   \") .and. EMPTY(0) .and. EMPTY(.F.) .and. .not. EMPTY(PAGES)"));
  EXPECT_EQ(C("DTOC(CTOD(\"  /  /    \"))"), "  /  /    ");
  EXPECT_EQ(C("SPACE(3)+\"|\""), "   |");
  EXPECT_DOUBLE_EQ(N("AT(\"Fax\", SUBJECT)"), 7);
  EXPECT_DOUBLE_EQ(N("YEAR(DATESENT)*10000+MONTH(DATESENT)*100+DAY(DATESENT)"), 19981207);
  EXPECT_DOUBLE_EQ(N("INT(-3.7)+ABS(-2)"), -1);
  EXPECT_EQ(C("ALLT(subs(subject, 1, 5))"), "Smith");  // four-letter abbreviations
}

TEST_F(ExprTest, NamesAndKeywordsInAnyCase) {
  EXPECT_TRUE(L(".NoT. DeLeTeD() .AnD. archived .Or. .f."));
  EXPECT_EQ(C("dtos(datesent)+timesent"), "1998120714:05");
}

TEST_F(ExprTest, TwoDigitYearsFallInTheWindowEndingTwentyYearsAhead) {
  // Today is 2026-12-08: the window is 1946..2045.
  EXPECT_EQ(C("DTOS(CTOD(\"12/07/98\"))"), "19981207");
  EXPECT_EQ(C("DTOS(CTOD(\"01/02/05\"))"), "20050102");
  EXPECT_EQ(C("DTOS(CTOD(\"01/02/45\"))"), "20450102");
  EXPECT_EQ(C("DTOS(CTOD(\"01/02/46\"))"), "19460102");
  EXPECT_EQ(C("DTOS(CTOD(\"1/2/1845\"))"), "18450102");  // four digits stand
  settings_.epoch = 1900;
  EXPECT_EQ(C("DTOS(CTOD(\"01/02/05\"))"), "19050102");
}

TEST_F(ExprTest, ErrorsAreCodesWithDetail) {
  EXPECT_EQ(Err(""), XbError::ExprSyntax);
  EXPECT_EQ(Err("UPPER(SUBJECT"), XbError::ExprSyntax);
  EXPECT_EQ(Err("1 +"), XbError::ExprSyntax);
  EXPECT_EQ(Err("\"open"), XbError::ExprSyntax);
  EXPECT_EQ(Err("PAGES PAGES"), XbError::ExprSyntax);
  EXPECT_EQ(Err("@"), XbError::ExprSyntax);
  EXPECT_EQ(Err("NOSUCHFIELD"), XbError::ExprUnknownName);
  EXPECT_EQ(Err("FROB(SUBJECT)"), XbError::ExprUnknownName);
  EXPECT_EQ(Err(".maybe."), XbError::ExprUnknownName);
  EXPECT_EQ(Err("SUBJECT + 1"), XbError::ExprType);
  EXPECT_EQ(Err(".not. SUBJECT"), XbError::ExprType);
  EXPECT_EQ(Err("DTOS(SUBJECT)"), XbError::ExprType);
  EXPECT_EQ(Err("IIF(.T., 1, \"a\")"), XbError::ExprType);
  EXPECT_EQ(Err("PAGES $ SUBJECT"), XbError::ExprType);
  EXPECT_EQ(Err("SUBSTR(SUBJECT)"), XbError::ExprSyntax);
  EXPECT_EQ(Err(std::string(5000, '(')), XbError::ExprTooLong);
  EXPECT_EQ(Err(std::string(3000, '(') + "1" + std::string(3000, ')')), XbError::ExprTooLong);
  EXPECT_EQ(Err(std::string(2000, '(') + "1" + std::string(2000, ')')), XbError::ExprSyntax);  // depth
  EXPECT_EQ(Err(std::string(1000, '-') + "1"), XbError::ExprSyntax);
  TXbExpr x;
  const XbStatus st = TXbExpr::Compile("UPPER(SUBJECT) + NOPE", fields_, x);
  EXPECT_NE(st.Message().find("NOPE at column 18"), std::string::npos) << st.Message();
  EXPECT_TRUE(x.Empty());
}
