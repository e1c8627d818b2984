#pragma once
// A one-line status panel with bevels, repainted on every change of caption
// or property. Painting it needs no native window, so frequent caption
// changes do not flicker.

#include <QColor>
#include <QWidget>

class TGraphicPanel : public QWidget {
  Q_OBJECT
 public:
  enum class TBevel { None, Lowered, Raised };
  enum class TBorderStyle { None, Single };

  explicit TGraphicPanel(QWidget* parent = nullptr);

  Qt::Alignment Alignment() const { return alignment_; }
  void SetAlignment(Qt::Alignment a);
  TBevel BevelInner() const { return bevelInner_; }
  void SetBevelInner(TBevel b);
  TBevel BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TBevel b);
  int BevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(int w);
  int BorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int w);
  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle s);
  QColor Color() const { return color_; }
  void SetColor(const QColor& c);
  QString Caption() const { return caption_; }
  void SetCaption(const QString& c);
  bool Locked = false;

  QSize sizeHint() const override { return {185, 41}; }

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  Qt::Alignment alignment_ = Qt::AlignHCenter;
  TBevel bevelInner_ = TBevel::None;
  TBevel bevelOuter_ = TBevel::Raised;
  int bevelWidth_ = 1;
  int borderWidth_ = 0;
  TBorderStyle borderStyle_ = TBorderStyle::None;
  QColor color_;
  QString caption_;
};
