#pragma once
// TFxFaxViewer: shows one page of an APF file at a time, scaled and turned,
// with scrolling, marking a block and copying it to the clipboard, and files
// dropped on it. Pages are unpacked when they are shown, on a worker thread;
// the page appears (and OnPageChange is raised) when it is ready.

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "faximage/FaxUnpacker.h"
#include "viewing/MonoRender.h"

class TPageLoader;
struct TPageResult;

class TFxFaxViewer : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit TFxFaxViewer(QWidget* parent = nullptr);
  ~TFxFaxViewer() override;

  // ---- properties
  QRgb FGColor() const { return fg_; }
  QRgb BGColor() const { return bg_; }
  void SetFGColor(QRgb c);
  void SetBGColor(QRgb c);

  bool Scaling() const { return scaling_; }
  void SetScaling(bool on);
  unsigned HorizMult() const { return factors_.horizMult; }
  unsigned HorizDiv() const { return factors_.horizDiv; }
  unsigned VertMult() const { return factors_.vertMult; }
  unsigned VertDiv() const { return factors_.vertDiv; }
  // Setting 0 is ignored.
  void SetHorizMult(unsigned v);
  void SetHorizDiv(unsigned v);
  void SetVertMult(unsigned v);
  void SetVertDiv(unsigned v);
  // The scale in force: the factors while Scaling is on, else 1:1.
  TViewScale Scale() const { return scaling_ ? factors_ : TViewScale{}; }

  // Handed to the unpacker for the pages unpacked from now on.
  TAutoScaleMode AutoScaleMode = TAutoScaleMode::asDoubleHeight;
  bool WhitespaceCompression = false;
  unsigned WhitespaceFrom = 0;
  unsigned WhitespaceTo = 0;

  unsigned HorizScroll() const { return horizScroll_; }
  unsigned VertScroll() const { return vertScroll_; }
  void SetHorizScroll(unsigned pixels);
  void SetVertScroll(unsigned pixels);

  bool AcceptDragged() const { return acceptDragged_; }
  void SetAcceptDragged(bool on);
  // Unpacks every page after the first one is shown and keeps them all in
  // memory, instead of only the page shown.
  bool LoadWholeFax = false;
  Qt::CursorShape BusyCursor = Qt::ArrowCursor;

  QString FileName() const { return fileName_; }
  // Loads a fax and starts unpacking its first page: 0, -2 when the file
  // does not exist, -8001 when it is not an APF file or holds no readable
  // page, or another negative code. An empty name unloads. Resets the
  // factors to 1 and the rotation to 0. A failure leaves the old fax shown.
  [[nodiscard]] int SetFileName(const QString& name);

  // ---- events
  std::function<void()> OnPageChange;
  std::function<void(int errorCode)> OnViewerError;
  std::function<void(const QString& fileName)> OnDropFile;

  // ---- operations
  // Pages whose chain lies inside the file (a damaged file may claim more).
  unsigned NumPages() const { return static_cast<unsigned>(pages_.size()); }
  // The page claimed by the file header.
  unsigned ClaimedPages() const { return claimedPages_; }
  unsigned CurrentPage() const { return current_; }
  // 0; -8050 without a fax; -1002 for a page out of range.
  [[nodiscard]] int GotoPage(unsigned page);
  void FirstPage();
  void LastPage();
  void NextPage();
  void PrevPage();
  // Width in pixels of the current page as sent (halved for a normal page
  // under asHalfWidth), before scaling and turning; 0 without a fax.
  unsigned PageWidth() const;
  bool PageHighRes(unsigned page) const;
  int Rotation() const { return rotation_; }
  // 0 none, 1 90 degrees, 2 180 degrees, 3 270 degrees. 0, -1002 for another
  // value, -8 when memory runs out (the rotation stays).
  [[nodiscard]] int SetRotation(int rotation);
  // Scale changes between the two are applied once, at EndUpdate.
  void BeginUpdate() { ++updating_; }
  void EndUpdate();

  // The marked block on the clipboard as a monochrome image of the marked
  // size: 0, -8050 without a fax, -8051 without a mark.
  [[nodiscard]] int CopyToClipboard();
  void SelectAll();
  bool HasMark() const { return hasMark_; }
  // The mark in displayed page coordinates.
  QRect Mark() const { return mark_; }
  void SetMark(const QRect& displayed);

  // Pages held unpacked in memory.
  unsigned PagesInMemory() const;
  // True while the page asked for is being unpacked.
  bool Busy() const { return busy_; }
  // The current page in its own pixels, turned; empty for a page without ink.
  const TFxBitmap& PageImage() const { return page_; }
  // The page as painted, at the displayed size.
  const QImage& PaintedImage() const { return painted_; }
  QSize DisplayedSize() const { return displayed_; }
  QPoint ScrollOffset() const;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  struct TPageEntry {
    uint16_t flags = 0;
    std::optional<TFxBitmap> image;  // as unpacked, upright
  };

  void Release();
  void ShowPage(unsigned page);
  void Unpack(unsigned page);
  void UnpackNextInBackground();
  void Present(TFxBitmap upright, TFxBitmap turned, QImage painted);
  void PageArrived(TPageResult&& result);
  void Fail(int code);
  void ScaleChanged();
  void Repaint();
  void SetUpScrollBars();
  void ScrollTo(int x, int y);
  QPoint PagePoint(const QPoint& viewportPoint) const;
  void ExtendMark(const QPoint& viewportPoint);
  void AutoScrollTick();

  QRgb fg_ = qRgb(0, 0, 0), bg_ = qRgb(255, 255, 255);
  bool scaling_ = false;
  TViewScale factors_;
  int updating_ = 0;
  bool scaleDirty_ = false;
  unsigned horizScroll_ = 8, vertScroll_ = 8;
  bool acceptDragged_ = true;

  QString fileName_;
  unsigned claimedPages_ = 0;
  std::vector<TPageEntry> pages_;
  unsigned current_ = 0;
  int rotation_ = 0;
  TFxBitmap upright_;  // the current page as unpacked
  TFxBitmap page_;     // upright_ turned by rotation_
  // At the displayed size, 1 or 8 bits a pixel: painting converts only the
  // part in view, so a very long page costs no more than its bits.
  QImage painted_;
  QSize displayed_;

  bool busy_ = false;
  bool aheadFailed_ = false;  // a page unpacked ahead failed: no more ahead
  uint64_t generation_ = 0;
  std::unique_ptr<TPageLoader> loader_;

  bool hasMark_ = false;
  QRect mark_;
  QPoint anchor_;
  bool marking_ = false;
  QPoint lastPointer_;
  QTimer autoScroll_;
};
