// Where the renderer puts ink: every object inside the rectangle its record
// gives, borders and line ends on the exact rows and columns, long values
// and messages cut at their box, and hostile records drawn clipped or not
// at all.
#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>

#include "cover/tests/RenderHelpers.h"

namespace {

constexpr int kText = static_cast<int>(TCoverObjectKind::ckText);
constexpr int kField = static_cast<int>(TCoverObjectKind::ckField);
constexpr int kMessage = static_cast<int>(TCoverObjectKind::ckMessage);
constexpr int kImportance = static_cast<int>(TCoverObjectKind::ckImportance);

TEST(CoverRenderer, ShapeBordersLieOnTheRectangleEdges) {
  TTempFolder dir;
  for (int shape : {stRectangle, stRoundRect, stEllipse}) {
    const TFctRecord r = ShapeRecord(static_cast<TShapeType>(shape), sftTransparent, 100, 200, 400, 300, 6);
    const QImage page = Render(dir, {r});
    const QRect box = PageRect(r);
    EXPECT_EQ(InkBox(page), box) << shape;
    // At the middle of the left and top edges the border is exactly 6 wide.
    const int midY = box.top() + box.height() / 2, midX = box.left() + box.width() / 2;
    for (int i = 0; i < 6; ++i) {
      EXPECT_TRUE(Black(page, box.left() + i, midY)) << shape << " " << i;
      EXPECT_TRUE(Black(page, midX, box.top() + i)) << shape << " " << i;
      EXPECT_TRUE(Black(page, box.right() - i, midY)) << shape << " " << i;
    }
    EXPECT_FALSE(Black(page, box.left() + 6, midY)) << shape;
    EXPECT_FALSE(Black(page, midX, midY)) << shape;
    // Only the plain rectangle has its corners inked.
    EXPECT_EQ(Black(page, box.left(), box.top()), shape == stRectangle) << shape;
  }
}

// One object of every kind and shape, drawn alone: ink only inside its
// rectangle; shapes and corner-to-corner lines touch all four edges.
TEST(CoverRenderer, EveryKindInksInsideItsRectangleOnly) {
  TTempFolder dir;
  CoverFieldValues values;
  values.Texts[cfRecipient] = "Recipient";
  values.Importance[0] = true;
  std::vector<std::pair<TFctRecord, bool>> cases;  // record, touches all edges
  TFctRecord symbol = TextRecord(static_cast<int>(TCoverObjectKind::ckSymbol), 333, 444, 80, 80, "J", 48);
  symbol.FontName = "WingDings";
  cases.push_back({symbol, false});
  cases.push_back({TextRecord(kText, 700, 900, 400, 50, "Text"), false});
  TFctRecord field = TextRecord(kField, 20, 1700, 300, 40);
  field.Ints[5] = cfRecipient;
  cases.push_back({field, false});
  cases.push_back({TextRecord(kImportance, 5, 1000, 1500, 40), false});
  cases.push_back({TextRecord(kMessage, 900, 50, 500, 500), false});
  for (int shape = 0; shape < kShapeTypes; ++shape)
    cases.push_back({ShapeRecord(static_cast<TShapeType>(shape), sftTransparent, 150 + shape * 11, 1200, 301, 177, 3),
                     true});
  cases.push_back({LineRecord(lsAngleSlopingUp, 1400, 1800, 130, 90, 5), true});
  for (const auto& [record, touches] : cases) {
    const QRect ink = InkBox(Render(dir, {record}, values, "A message of a few words"));
    ASSERT_TRUE(ink.isValid()) << record.Kind << " " << record.Ints[0];
    EXPECT_TRUE(PageRect(record).contains(ink)) << record.Kind << " " << record.Ints[0];
    if (touches) {
      EXPECT_EQ(ink, PageRect(record)) << record.Kind << " " << record.Ints[0];
    }
  }
}

TEST(CoverRenderer, FillsCoverWhatLiesBelow) {
  TTempFolder dir;
  const TFctRecord black = ShapeRecord(stRectangle, sftFilledBlack, 0, 0, 300, 300, 2);
  const TFctRecord white = ShapeRecord(stEllipse, sftFilledWhite, 50, 50, 200, 200, 4);
  QImage page = Render(dir, {black});
  EXPECT_EQ(Ink(page), 300L * 300);
  page = Render(dir, {black, white});
  const QRect w = PageRect(white);
  EXPECT_FALSE(Black(page, w.center().x(), w.center().y()));  // the white fill erased the black
  EXPECT_TRUE(Black(page, w.left() + 1, w.center().y()));     // its own border
  EXPECT_TRUE(Black(page, w.left() + 2, w.top() + 2));        // the black outside the ellipse
}

TEST(CoverRenderer, LinesRunAlongTheirEdgesAndCornerToCorner) {
  TTempFolder dir;
  const TFctRecord h = LineRecord(lsHorizontal, 10, 20, 500, 40, 4);
  EXPECT_EQ(InkBox(Render(dir, {h})), QRect(PageRect(h).left(), PageRect(h).top(), 500, 4));
  const TFctRecord v = LineRecord(lsVertical, 10, 20, 40, 500, 2);
  EXPECT_EQ(InkBox(Render(dir, {v})), QRect(PageRect(v).left(), PageRect(v).top(), 2, 500));
  for (TLineStyle style : {lsAngleSlopingUp, lsAngleSlopingDown}) {
    const TFctRecord d = LineRecord(style, 100, 100, 600, 300, 4);
    const QImage page = Render(dir, {d});
    const QRect box = PageRect(d);
    EXPECT_EQ(InkBox(page), box) << style;
    const bool up = style == lsAngleSlopingUp;
    EXPECT_TRUE(Black(page, box.left(), up ? box.bottom() : box.top())) << style;
    EXPECT_TRUE(Black(page, box.right(), up ? box.top() : box.bottom())) << style;
    EXPECT_FALSE(Black(page, box.left(), up ? box.top() : box.bottom())) << style;
  }
}

TEST(CoverRenderer, TextStartsAtTheTopLeftAndStaysInside) {
  TTempFolder dir;
  const TFctRecord t = TextRecord(kText, 200, 300, 600, 60, "Hello, world");
  const QImage page = Render(dir, {t});
  const QRect ink = InkBox(page), box = PageRect(t);
  ASSERT_TRUE(ink.isValid());
  EXPECT_TRUE(box.contains(ink));
  EXPECT_LE(ink.left() - box.left(), 6);
  EXPECT_LE(ink.top() - box.top(), 12);
  EXPECT_GT(ink.width(), 100);
  // Bold draws heavier strokes than regular.
  TFctRecord bold = t;
  bold.Bold = true;
  EXPECT_GT(Ink(Render(dir, {bold})), Ink(page) * 11 / 10);
}

TEST(CoverRenderer, FieldsTakeTheirValueAndAreCutAtTheirBox) {
  TTempFolder dir;
  TFctRecord f = TextRecord(kField, 100, 100, 300, 60);
  f.Ints[5] = cfSenderFax;
  CoverFieldValues values;
  EXPECT_FALSE(InkBox(Render(dir, {f}, values)).isValid());  // an empty value draws nothing
  values.Texts[cfSenderFax] = std::string(200, 'W');
  const QRect ink = InkBox(Render(dir, {f}, values));
  ASSERT_TRUE(ink.isValid());
  EXPECT_TRUE(PageRect(f).contains(ink));
  EXPECT_GE(ink.right(), PageRect(f).right() - 2);  // cut at the edge, not left out
  // A field type outside the nine draws the record's own text.
  f.Ints[5] = 42;
  f.Text = "own";
  EXPECT_TRUE(InkBox(Render(dir, {f}, values)).isValid());
}

TEST(CoverRenderer, MessageWrapsAndStopsAtTheBoxBottom) {
  TTempFolder dir;
  const TFctRecord m = TextRecord(kMessage, 0, 400, 800, 300);
  std::string forty;
  for (int i = 1; i <= 40; ++i) forty += "Line " + std::to_string(i) + " of the message & more\r\n";
  const QImage page = Render(dir, {m}, {}, forty);
  const QRect ink = InkBox(page), box = PageRect(m);
  EXPECT_TRUE(box.contains(ink));
  EXPECT_GE(ink.bottom(), box.bottom() - 2 * 40);  // the box is filled down to its last whole line
  // One long paragraph wraps inside the width instead of running off.
  std::string words;
  for (int i = 0; i < 200; ++i) words += "word ";
  const QRect wrapped = InkBox(Render(dir, {m}, {}, words + std::string(400, 'x')));
  EXPECT_TRUE(box.contains(wrapped));
  EXPECT_GT(wrapped.height(), 100);
}

TEST(CoverRenderer, ImportanceMarksOnlyTheChosenBoxes) {
  TTempFolder dir;
  const TFctRecord imp = TextRecord(kImportance, 0, 0, 1500, 60);
  CoverFieldValues none;
  EXPECT_FALSE(InkBox(Render(dir, {imp}, none)).isValid());
  CoverFieldValues reply;
  reply.Importance[3] = true;
  const QImage marked = Render(dir, {imp}, reply);
  // The same caption as plain text: the difference is the one "X".
  const QImage plain = Render(dir, {TextRecord(kText, 0, 0, 1500, 60, std::string(kImportanceCaption))});
  QImage diff = marked;
  for (int y = 0; y < diff.height(); ++y)
    for (int x = 0; x < diff.width(); ++x)
      diff.scanLine(y)[x] = marked.constScanLine(y)[x] != plain.constScanLine(y)[x] ? 0 : 255;
  const QRect x = InkBox(diff);
  ASSERT_TRUE(x.isValid());
  QFont font("Arial");
  font.setPixelSize(27);
  font.setStyleStrategy(QFont::NoAntialias);
  const int at = kCoverMargin + QFontMetrics(font).horizontalAdvance(QString::fromStdString(
                                    "[  ]Urgent     [  ]For Review     [  ]Please Comment     ["));
  EXPECT_GE(x.left(), at - 2);
  EXPECT_LE(x.right(), at + QFontMetrics(font).horizontalAdvance("X") + 2);
}

TEST(CoverRenderer, HostileRecordsAreClippedOrSkipped) {
  TTempFolder dir;
  std::vector<TFctRecord> records;
  TFctRecord t = TextRecord(kText, 10, 10, 500, 100, "Missing font");
  t.FontName = "No Such Font Family 123";
  records.push_back(t);
  t.FontName = "Arial";
  t.FontSize = 0;
  records.push_back(t);
  t.FontSize = 5000;
  t.Text = "Huge";
  t.Width = 1500;
  t.Height = 1900;
  records.push_back(t);
  records.push_back(ShapeRecord(stEllipse, sftFilledBlack, -50, -50, -400, 300, 4));
  records.push_back(ShapeRecord(stRoundRect, sftTransparent, 1000, 1000, INT32_MAX, INT32_MAX, INT32_MAX));
  records.push_back(ShapeRecord(stRectangle, sftFilledBlack, INT32_MIN, INT32_MAX, 100, 100, -7));
  records.push_back(LineRecord(static_cast<TLineStyle>(99), 0, 0, 100, 100, 2));
  records.push_back(LineRecord(lsAngleSlopingUp, -200000, -200000, 400000, 400000, 3000));
  TFctRecord m = TextRecord(kMessage, 1500, 2000, 5000, 5000);
  records.push_back(m);
  TFctRecord unknown = TextRecord(77, 0, 0, 100, 100, "?");
  records.push_back(unknown);
  TFctRecord longest = TextRecord(kText, 0, 0, 1500, 1900, std::string(1'000'000, 'W'), INT32_MAX);
  records.push_back(longest);
  const QImage page = Render(dir, records, {}, "message off the page edge");
  EXPECT_EQ(page.size(), QSize(kCoverPageWidth, kCoverPageHeight));
  // The missing font still draws, in some other font, inside its box.
  const QRect first = InkBox(Render(dir, {records[0]}));
  ASSERT_TRUE(first.isValid());
  EXPECT_TRUE(PageRect(records[0]).contains(first));
  EXPECT_FALSE(InkBox(Render(dir, {records[1]})).isValid());
  const QRect huge = InkBox(Render(dir, {records[2]}));
  ASSERT_TRUE(huge.isValid());
  EXPECT_TRUE(PageRect(records[2]).contains(huge));
  EXPECT_FALSE(InkBox(Render(dir, {records[3]})).isValid());
  EXPECT_FALSE(InkBox(Render(dir, {records[5]})).isValid());
}

}  // namespace
