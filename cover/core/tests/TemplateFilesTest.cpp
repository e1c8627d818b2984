// Template files: the stored form of each object kind, round trips through
// the editable form, reading damaged files, names and descriptions.
#include <gtest/gtest.h>

#include <string>

#include "cover/core/FcsFile.h"
#include "cover/core/FctFile.h"
#include "cover/core/RecentTemplates.h"
#include "cover/core/TemplateFiles.h"
#include "cover/core/TypedValues.h"
#include "shell/core/IniFile.h"
#include "testsupport/TempFolder.h"

namespace {

using namespace std::string_literals;

// Every object kind with every property it carries changed from its default.
std::vector<TCoverObject> EveryKindChanged() {
  std::vector<TCoverObject> v;
  for (int k = 0; k < kCoverObjectKinds; ++k) {
    TCoverObject o = MakeCoverObject(static_cast<TCoverObjectKind>(k));
    o.Name = "Component" + std::to_string(k);
    o.Left = 96 + k;
    o.Top = -3 - k;
    o.Width = 40000;
    o.Height = 7;
    o.Locked = true;
    o.Unselectable = true;
    if (IsTextLike(o.Kind)) {
      o.Caption = std::string(300, static_cast<char>('a' + k));
      o.Font.Name = "Liberation Serif";
      o.Font.Size = 13;
      o.Font.Color = 0x123456;
      o.Font.Bold = o.Font.Italic = o.Font.Underline = true;
    }
    if (o.Kind == TCoverObjectKind::ckField) SetFieldType(o, cfSenderVoice);
    if (o.Kind == TCoverObjectKind::ckShape) {
      o.Shape = stCircle;
      o.ShapeFilltype = sftFilledBlack;
      o.Pen = 7;
      o.RoundPerc = 80;
    }
    if (o.Kind == TCoverObjectKind::ckLine) {
      o.LineStyle = lsAngleSlopingDown;
      o.Pen = 10;
    }
    v.push_back(o);
  }
  return v;
}

TEST(FctFile, StoresFaxUnitsDoubledFontSizesAndLongCaptions) {
  TCoverObject label = MakeCoverObject(TCoverObjectKind::ckText);
  label.Left = 96;
  label.Top = 48;
  label.Width = 95;  // 193.96 units, cut to 193
  label.Caption = std::string(300, 'c');
  const TFctRecord r = MakeFctRecord(label, 96);
  EXPECT_EQ(r.Left, 196);
  EXPECT_EQ(r.Top, 98);
  EXPECT_EQ(r.Width, 193);
  EXPECT_EQ(r.FontSize, 20);
  EXPECT_EQ(ToFaxUnits(-1, 96), -2);  // -2.04 cut towards zero
  EXPECT_EQ(ToFaxUnits(120, 120), 196);

  const std::string bytes = WriteFct({r});
  // list start, kind 0, left 196 (two bytes: 3, C4 00), ...
  EXPECT_EQ(bytes.substr(0, 3), std::string("\x01\x02\x00", 3));
  EXPECT_EQ(bytes.substr(3, 3), std::string("\x03\xC4\x00", 3));
  // The caption is the first string, type 12 with a 4-byte length.
  const size_t caption = bytes.find('\x0C');
  ASSERT_NE(caption, std::string::npos);
  EXPECT_EQ(bytes.substr(caption, 5), std::string("\x0C\x2C\x01\x00\x00", 5));
  // Font size 20 as a one-byte integer right after the font name "Arial".
  EXPECT_NE(bytes.find(std::string("\x06\x05" "Arial\x02\x14", 9)), std::string::npos);

  const TFctReadResult back = ReadFct(bytes);
  EXPECT_TRUE(back.Error.empty()) << back.Error;
  ASSERT_EQ(back.Records.size(), 1u);
  EXPECT_EQ(back.Records[0], r);
}

TEST(FctFile, KindSpecificIntegersAndEmptyTexts) {
  const auto objects = EveryKindChanged();
  std::vector<TFctRecord> records;
  for (const auto& o : objects) records.push_back(MakeFctRecord(o));
  const auto& shape = records[2];
  EXPECT_EQ(shape.FontName, "");
  EXPECT_EQ(shape.FontSize, -1);
  EXPECT_FALSE(shape.Bold);
  EXPECT_EQ(shape.Ints, (std::array<int, 6>{stCircle, sftFilledBlack, 14, -1, 80, -1}));
  EXPECT_EQ(records[3].Ints, (std::array<int, 6>{-1, -1, 20, lsAngleSlopingDown, -1, -1}));
  EXPECT_EQ(records[5].Ints, (std::array<int, 6>{-1, -1, -1, -1, -1, cfSenderVoice}));
  EXPECT_EQ(records[4].Ints, (std::array<int, 6>{-1, -1, -1, -1, -1, -1}));
  // Only text and symbol objects keep their caption.
  EXPECT_FALSE(records[0].Text.empty());
  EXPECT_FALSE(records[1].Text.empty());
  for (int k : {4, 5, 6}) EXPECT_TRUE(records[static_cast<size_t>(k)].Text.empty()) << k;

  const auto back = ReadFct(WriteFct(records));
  EXPECT_TRUE(back.Error.empty());
  EXPECT_EQ(back.Records, records);
  // The divisor divides positions, sizes, font sizes and the pen width.
  const auto halved = ReadFct(WriteFct(records), 2);
  EXPECT_EQ(halved.Records[2].Ints[2], 7);
  EXPECT_EQ(halved.Records[0].FontSize, 13);
  EXPECT_EQ(halved.Records[0].Left, records[0].Left / 2);
}

TEST(FctFile, DamageKeepsTheCompleteRecordsBeforeIt) {
  const auto objects = EveryKindChanged();
  std::vector<TFctRecord> records;
  std::vector<size_t> ends;  // byte offset after each record
  std::string bytes;
  for (const auto& o : objects) {
    records.push_back(MakeFctRecord(o));
    WriteFctRecord(bytes, records.back());
    ends.push_back(bytes.size());
  }
  // Cut at every length: exactly the records that end inside the cut survive.
  for (size_t cut = 0; cut <= bytes.size(); ++cut) {
    const auto r = ReadFct(std::string_view(bytes).substr(0, cut));
    size_t whole = 0;
    while (whole < ends.size() && ends[whole] <= cut) ++whole;
    ASSERT_EQ(r.Records.size(), whole) << cut;
    EXPECT_EQ(r.Error.empty(), whole == 0 ? cut == 0 : ends[whole - 1] == cut) << cut;
  }
  // A wrong type byte inside the third record.
  std::string wrong = bytes;
  wrong[ends[1] + 1] = '\x06';
  const auto w = ReadFct(wrong);
  EXPECT_EQ(w.Records.size(), 2u);
  EXPECT_NE(w.Error.find("record 3"), std::string::npos);
  // Nesting 10,000 deep and a string claiming 2^31 bytes.
  EXPECT_TRUE(ReadFct(std::string(10000, '\x01')).Records.empty());
  std::string huge = bytes.substr(0, ends[0]) + std::string("\x01\x02\x00\x02\x00\x02\x00\x02\x00\x02\x00\x0C\x00\x00\x00\x80", 16);
  const auto h = ReadFct(huge);
  EXPECT_EQ(h.Records.size(), 1u);
  EXPECT_FALSE(h.Error.empty());
}

TEST(FctFile, MissingAndEmptyFiles) {
  TTempFolder dir;
  const auto missing = ReadFctFile(dir / "NONE.FCT");
  EXPECT_TRUE(missing.Missing);
  EXPECT_TRUE(missing.Records.empty());
  ASSERT_TRUE(WriteFctFile(dir / "EMPTY.FCT", {}));
  EXPECT_EQ(std::filesystem::file_size(dir / "EMPTY.FCT"), 0u);
  const auto empty = ReadFctFile(dir / "EMPTY.FCT");
  EXPECT_FALSE(empty.Missing);
  EXPECT_TRUE(empty.Error.empty());
}

TEST(FcsFile, EveryPropertyRoundTripsByteForByte) {
  const auto objects = EveryKindChanged();
  const std::string first = WriteFcs(objects);
  const auto back = ReadFcs(first);
  ASSERT_TRUE(back.Ok()) << back.Error;
  EXPECT_EQ(back.Objects, objects);
  EXPECT_EQ(WriteFcs(back.Objects), first);
  // Every property of every kind was written: changing any one of them
  // changes the stream.
  for (size_t i = 0; i < objects.size(); ++i) {
    auto changed = objects;
    changed[i].Left += 1;
    changed[i].Pen += 1;
    changed[i].Font.Size += 1;
    EXPECT_NE(WriteFcs(changed), first) << i;
  }
}

TEST(FcsFile, DefaultsAreLeftOutAndAnEmptySurfaceIsTwoBytes) {
  EXPECT_EQ(WriteFcs({}), std::string("\x01\x00", 2));
  TCoverObject o = MakeCoverObject(TCoverObjectKind::ckShape);
  o.Name = "Component0";
  EXPECT_EQ(WriteFcs({o}), std::string("\x01TPF0\x0FTFaxCoverShapes\x0A" "Component0\x00\x00\x00", 35));
  o.Pen = 3;
  const std::string withPen = WriteFcs({o});
  EXPECT_NE(withPen.find(std::string("\x03Pen\x02\x03", 6)), std::string::npos);
  EXPECT_EQ(ReadFcs(withPen).Objects.at(0).Pen, 3);
}

TEST(FcsFile, DamagedStreamsGiveAnErrorAndTheObjectsBefore) {
  const auto objects = EveryKindChanged();
  const std::string good = WriteFcs(objects);
  for (size_t cut = 0; cut < good.size(); ++cut) {
    const auto r = ReadFcs(std::string_view(good).substr(0, cut));
    ASSERT_FALSE(r.Ok()) << cut;
    ASSERT_LE(r.Objects.size(), objects.size());
    for (size_t i = 0; i < r.Objects.size(); ++i) EXPECT_EQ(r.Objects[i], objects[i]);
  }
  auto bad = [](const std::string& body) { return ReadFcs(std::string("\x01TPF0", 5) + body); };
  EXPECT_NE(bad(std::string("\x07TNoSuch\x01X\x00\x00\x00", 12)).Error.find("unknown class"), std::string::npos);
  // An enumeration out of range, a wrong type for a number, children.
  EXPECT_NE(bad(std::string("\x0FTFaxCoverShapes\x01X\x05Shape\x02\x06\x00\x00\x00", 28)).Error.find("range"),
            std::string::npos);
  EXPECT_FALSE(bad(std::string("\x0FTFaxCoverShapes\x01X\x04Left\x06\x01" "a\x00\x00\x00", 28)).Ok());
  EXPECT_NE(bad(std::string("\x0FTFaxCoverShapes\x01X\x00\x01\x00", 20)).Error.find("child"), std::string::npos);
  // An unknown property is stepped over, lists included; deep nesting is not.
  const auto skipped = bad("\x0DTFaxCoverLine\x01X\x04Tint\x01\x02\x05\x00\x00\x00\x00"s);
  EXPECT_TRUE(skipped.Ok()) << skipped.Error;
  EXPECT_EQ(skipped.Objects.size(), 1u);
  const auto deep = bad("\x0DTFaxCoverLine\x01X\x04Tint"s + std::string(10000, '\x01'));
  EXPECT_NE(deep.Error.find("nested"), std::string::npos);
  // Garbage after the list end.
  EXPECT_FALSE(ReadFcs(good + "x").Ok());
  EXPECT_EQ(UnableToOpenMessage("A.FCS"), "Unable to open A.FCS. Possibly corrupted, posibly not a Labelcraft file");
}

TEST(TemplateFiles, NextNameSkipsFilesOfAnyCase) {
  TTempFolder dir;
  EXPECT_EQ(NextTemplateName(dir.Path()), "CV0001.FCS");
  TTempFolder::WriteFile(dir / "cv0001.fcs", "");
  TTempFolder::WriteFile(dir / "CV0002.FCS", "");
  TTempFolder::WriteFile(dir / "CV0004.FCS", "");
  EXPECT_EQ(NextTemplateName(dir.Path()), "CV0003.FCS");
}

TEST(TemplateFiles, DescriptionIsTheFirstLine) {
  TTempFolder dir;
  EXPECT_EQ(ReadDescription(dir / "NONE.DES"), "");
  ASSERT_TRUE(WriteDescription(dir / "A.DES", "Plain\rbusiness"));
  EXPECT_EQ(TTempFolder::ReadFile(dir / "A.DES"), "Plain business\r\n");
  EXPECT_EQ(ReadDescription(dir / "A.DES"), "Plain business");
  TTempFolder::WriteFile(dir / "B.DES", "Unix line\nsecond\n");
  EXPECT_EQ(ReadDescription(dir / "B.DES"), "Unix line");
  const auto p = TemplatePaths(dir / "CV0001.FCS");
  EXPECT_EQ(p.Fct.filename(), "CV0001.FCT");
  EXPECT_EQ(p.Bmp.filename(), "CV0001.bmp");
  EXPECT_EQ(p.Des.filename(), "CV0001.DES");
}

TEST(RecentTemplates, StoredListWithDoublesAndGapsReadsCleanAndWritesBack) {
  TTempFolder dir;
  const auto ini = dir / "CV.INI";
  TTempFolder::WriteFile(ini, "[CDMRU]\r\nF0=/c/A.FCS\r\nF1=/c/a.fcs\r\nF3=/c/B.FCS\r\nF9=/c/Z.FCS\r\n[Other]\r\nK=1\r\n");
  TRecentTemplates recent;
  recent.Read(TIniFile(ini));
  EXPECT_EQ(recent.Entries(), (std::vector<std::string>{"/c/A.FCS", "/c/B.FCS"}));
  recent.Use("/c/b.fcs");
  recent.Use("");
  EXPECT_EQ(recent.Entries(), (std::vector<std::string>{"/c/b.fcs", "/c/A.FCS"}));
  TIniFile file(ini);
  recent.Write(file);
  ASSERT_TRUE(file.UpdateFile());
  const TIniFile back(ini);
  EXPECT_EQ(back.ReadSection("CDMRU"), (std::vector<std::string>{"F0", "F1"}));
  EXPECT_EQ(back.ReadString("CDMRU", "F0", ""), "/c/b.fcs");
  EXPECT_EQ(back.ReadString("Other", "K", ""), "1");
}

}  // namespace
