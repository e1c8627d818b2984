#include "viewing/TFxFaxViewer.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QUrl>

#include <algorithm>
#include <filesystem>

#include "faximage/Apf.h"
#include "faximage/ErrorCodes.h"
#include "shell/MonoImage.h"
#include "viewing/PageLoader.h"

namespace {

constexpr int kNoFax = -8050;
constexpr int kNoMark = -8051;
constexpr int kJumpSteps = 10;

}  // namespace

TFxFaxViewer::TFxFaxViewer(QWidget* parent) : QAbstractScrollArea(parent) {
  setObjectName("FaxViewer");
  setFrameShape(QFrame::Box);  // BorderStyle single
  setFocusPolicy(Qt::StrongFocus);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  autoScroll_.setInterval(50);
  connect(&autoScroll_, &QTimer::timeout, this, &TFxFaxViewer::AutoScrollTick);
  loader_ = std::make_unique<TPageLoader>([this](TPageResult&& result) {
    auto shared = std::make_shared<TPageResult>(std::move(result));
    QMetaObject::invokeMethod(this, [this, shared] { PageArrived(std::move(*shared)); }, Qt::QueuedConnection);
  });
  SetUpScrollBars();
}

TFxFaxViewer::~TFxFaxViewer() { loader_.reset(); }

// ---- properties -------------------------------------------------------------

void TFxFaxViewer::SetFGColor(QRgb c) {
  fg_ = c;
  ScaleChanged();
}

void TFxFaxViewer::SetBGColor(QRgb c) {
  bg_ = c;
  ScaleChanged();
}

void TFxFaxViewer::SetScaling(bool on) {
  if (on == scaling_) return;
  scaling_ = on;
  ScaleChanged();
}

void TFxFaxViewer::SetHorizMult(unsigned v) {
  if (v == 0) return;
  factors_.horizMult = v;
  if (scaling_) ScaleChanged();
}
void TFxFaxViewer::SetHorizDiv(unsigned v) {
  if (v == 0) return;
  factors_.horizDiv = v;
  if (scaling_) ScaleChanged();
}
void TFxFaxViewer::SetVertMult(unsigned v) {
  if (v == 0) return;
  factors_.vertMult = v;
  if (scaling_) ScaleChanged();
}
void TFxFaxViewer::SetVertDiv(unsigned v) {
  if (v == 0) return;
  factors_.vertDiv = v;
  if (scaling_) ScaleChanged();
}

void TFxFaxViewer::SetHorizScroll(unsigned pixels) {
  horizScroll_ = std::max(1u, pixels);
  SetUpScrollBars();
}

void TFxFaxViewer::SetVertScroll(unsigned pixels) {
  vertScroll_ = std::max(1u, pixels);
  SetUpScrollBars();
}

void TFxFaxViewer::SetAcceptDragged(bool on) {
  acceptDragged_ = on;
  setAcceptDrops(on);
  viewport()->setAcceptDrops(on);
}

void TFxFaxViewer::EndUpdate() {
  if (updating_ > 0 && --updating_ == 0 && scaleDirty_) ScaleChanged();
}

// ---- loading ------------------------------------------------------------------

void TFxFaxViewer::Release() {
  loader_->Cancel();
  ++generation_;
  busy_ = false;
  viewport()->unsetCursor();
  fileName_.clear();
  claimedPages_ = 0;
  aheadFailed_ = false;
  pages_.clear();
  current_ = 0;
  upright_ = {};
  page_ = {};
  painted_ = {};
  displayed_ = {};
  hasMark_ = false;
  SetUpScrollBars();
  viewport()->update();
}

int TFxFaxViewer::SetFileName(const QString& name) {
  factors_ = TViewScale{};
  rotation_ = 0;
  if (name.isEmpty()) {
    Release();
    if (OnPageChange) OnPageChange();
    return 0;
  }
  const std::string file = name.toStdString();
  TFxApfReader reader;
  if (const int rc = reader.Open(file); rc < 0) return rc;
  // The pages the chain really holds; a damaged or cut file shows those.
  std::vector<TPageEntry> pages;
  for (unsigned n = 1; n <= reader.PageCount(); ++n) {
    ApfPageHeader header;
    uint64_t offset = 0;
    if (reader.FindPage(n, header, offset) < 0 || offset + header.imageLength > reader.FileSize()) break;
    pages.push_back(TPageEntry{header.flags, std::nullopt});
  }
  if (pages.empty()) return FxErr::ecFaxBadFormat;
  Release();
  fileName_ = name;
  claimedPages_ = reader.PageCount();
  pages_ = std::move(pages);
  ShowPage(1);
  return 0;
}

unsigned TFxFaxViewer::PageWidth() const {
  if (current_ == 0 || current_ > pages_.size()) return 0;
  const uint16_t flags = pages_[current_ - 1].flags;
  const unsigned width = (flags & apfWide) ? 2048u : 1728u;
  return !(flags & apfHighRes) && AutoScaleMode == TAutoScaleMode::asHalfWidth ? width / 2 : width;
}

bool TFxFaxViewer::PageHighRes(unsigned page) const {
  return page >= 1 && page <= pages_.size() && (pages_[page - 1].flags & apfHighRes) != 0;
}

// ---- paging -------------------------------------------------------------------

int TFxFaxViewer::GotoPage(unsigned page) {
  if (fileName_.isEmpty()) return kNoFax;
  if (page < 1 || page > pages_.size()) return FxErr::ecBadArgument;
  ShowPage(page);
  return 0;
}

void TFxFaxViewer::FirstPage() {
  if (fileName_.isEmpty()) return;
  if (current_ == 1) ScrollTo(0, 0);
  else ShowPage(1);
}

void TFxFaxViewer::LastPage() {
  if (fileName_.isEmpty()) return;
  if (current_ == pages_.size()) ScrollTo(0, 0);
  else ShowPage(NumPages());
}

void TFxFaxViewer::NextPage() {
  if (!fileName_.isEmpty() && current_ < pages_.size()) ShowPage(current_ + 1);
}

void TFxFaxViewer::PrevPage() {
  if (!fileName_.isEmpty() && current_ > 1) ShowPage(current_ - 1);
}

void TFxFaxViewer::ShowPage(unsigned page) {
  current_ = page;
  TPageEntry& entry = pages_[page - 1];
  if (entry.image) {
    ++generation_;
    loader_->Cancel();
    busy_ = false;
    viewport()->unsetCursor();
    TFxBitmap upright = *entry.image;
    TFxBitmap turned = FxRotateMono(upright, rotation_);
    Present(std::move(upright), std::move(turned), {});
    UnpackNextInBackground();
    return;
  }
  busy_ = true;
  viewport()->setCursor(BusyCursor);
  Unpack(page);
}

void TFxFaxViewer::Unpack(unsigned page) {
  TPageRequest request;
  request.generation = ++generation_;
  request.fileName = fileName_.toStdString();
  request.page = page;
  request.autoScaleMode = AutoScaleMode;
  request.whitespaceCompression = WhitespaceCompression;
  request.whitespaceFrom = WhitespaceFrom;
  request.whitespaceTo = WhitespaceTo;
  request.rotation = rotation_;
  request.scale = Scale();
  request.fg = fg_;
  request.bg = bg_;
  loader_->Request(std::move(request));
}

void TFxFaxViewer::UnpackNextInBackground() {
  if (!LoadWholeFax || busy_ || aheadFailed_) return;
  for (unsigned n = 1; n <= pages_.size(); ++n) {
    if (!pages_[n - 1].image) {
      Unpack(n);
      return;
    }
  }
}

unsigned TFxFaxViewer::PagesInMemory() const {
  return static_cast<unsigned>(
      std::count_if(pages_.begin(), pages_.end(), [](const TPageEntry& e) { return e.image.has_value(); }));
}

void TFxFaxViewer::PageArrived(TPageResult&& result) {
  if (result.request.generation != generation_ || fileName_.isEmpty()) return;
  if (result.request.page != current_) {
    // A page unpacked ahead for LoadWholeFax; a failure shows when the page is asked for.
    if (result.error < 0) {
      aheadFailed_ = true;
      return;
    }
    pages_[result.request.page - 1].image = std::move(result.upright);
    UnpackNextInBackground();
    return;
  }
  busy_ = false;
  viewport()->unsetCursor();
  if (result.error < 0) {
    Fail(result.error);
    return;
  }
  QImage painted;
  if (result.request.rotation != rotation_) {
    result.page = FxRotateMono(result.upright, rotation_);
  } else if (result.request.scale == Scale() && result.request.fg == fg_ && result.request.bg == bg_) {
    painted = result.painted;
  }
  if (!LoadWholeFax) {
    for (TPageEntry& e : pages_) e.image.reset();
  }
  pages_[current_ - 1].image = result.upright;
  Present(std::move(result.upright), std::move(result.page), std::move(painted));
  UnpackNextInBackground();
}

void TFxFaxViewer::Fail(int code) {
  if (OnViewerError) OnViewerError(code);
  Release();
  if (OnPageChange) OnPageChange();
}

void TFxFaxViewer::Present(TFxBitmap upright, TFxBitmap turned, QImage painted) {
  upright_ = std::move(upright);
  page_ = std::move(turned);
  painted_ = painted.isNull() ? ReadyToPaint(RenderPage(page_, Scale(), fg_, bg_)) : std::move(painted);
  displayed_ = painted_.size();
  hasMark_ = false;
  SetUpScrollBars();
  ScrollTo(0, 0);
  viewport()->update();
  if (OnPageChange) OnPageChange();
}

// ---- scale and rotation -------------------------------------------------------------

void TFxFaxViewer::ScaleChanged() {
  if (updating_ > 0) {
    scaleDirty_ = true;
    return;
  }
  scaleDirty_ = false;
  if (page_.Empty()) return;
  painted_ = ReadyToPaint(RenderPage(page_, Scale(), fg_, bg_));
  displayed_ = painted_.size();
  hasMark_ = false;
  SetUpScrollBars();
  viewport()->update();
}

int TFxFaxViewer::SetRotation(int rotation) {
  if (rotation < 0 || rotation > 3) return FxErr::ecBadArgument;
  if (rotation == rotation_) return 0;
  try {
    // Turned from the page as unpacked: the same picture as turning the
    // shown one by the difference, without white rows piling up at an edge
    // when the page is turned back and forth. Pages unpacked later arrive
    // turned by the new value.
    page_ = FxRotateMono(upright_, rotation);
  } catch (const std::bad_alloc&) {
    return FxErr::ecOutOfMemory;
  }
  rotation_ = rotation;
  ScaleChanged();
  ScrollTo(0, 0);
  return 0;
}

// ---- scrolling and painting ---------------------------------------------------------

QPoint TFxFaxViewer::ScrollOffset() const {
  return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void TFxFaxViewer::SetUpScrollBars() {
  const QSize view = viewport()->size();
  QScrollBar* h = horizontalScrollBar();
  QScrollBar* v = verticalScrollBar();
  h->setRange(0, std::max(0, displayed_.width() - view.width()));
  v->setRange(0, std::max(0, displayed_.height() - view.height()));
  h->setSingleStep(static_cast<int>(horizScroll_));
  v->setSingleStep(static_cast<int>(vertScroll_));
  h->setPageStep(static_cast<int>(horizScroll_) * kJumpSteps);
  v->setPageStep(static_cast<int>(vertScroll_) * kJumpSteps);
}

void TFxFaxViewer::ScrollTo(int x, int y) {
  horizontalScrollBar()->setValue(x);
  verticalScrollBar()->setValue(y);
}

void TFxFaxViewer::scrollContentsBy(int, int) { viewport()->update(); }

void TFxFaxViewer::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  SetUpScrollBars();
}

void TFxFaxViewer::paintEvent(QPaintEvent* e) {
  QPainter p(viewport());
  const QPoint origin = -ScrollOffset();
  p.fillRect(e->rect(), QColor::fromRgb(bg_));
  if (!painted_.isNull()) {
    const QRect target = e->rect() & QRect(origin, displayed_);
    if (!target.isEmpty()) p.drawImage(target, painted_, target.translated(-origin));
  }
  if (hasMark_) {
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p.fillRect(mark_.translated(origin), Qt::white);
  }
}

void TFxFaxViewer::Repaint() { viewport()->update(); }

// ---- keyboard ----------------------------------------------------------------------

void TFxFaxViewer::keyPressEvent(QKeyEvent* e) {
  if (marking_) return;
  const bool ctrl = e->modifiers() & Qt::ControlModifier;
  QScrollBar* h = horizontalScrollBar();
  QScrollBar* v = verticalScrollBar();
  const int hStep = static_cast<int>(horizScroll_) * (ctrl ? kJumpSteps : 1);
  const int vStep = static_cast<int>(vertScroll_) * (ctrl ? kJumpSteps : 1);
  switch (e->key()) {
    case Qt::Key_PageUp: ctrl ? v->setValue(0) : PrevPage(); break;
    case Qt::Key_PageDown: ctrl ? v->setValue(v->maximum()) : NextPage(); break;
    case Qt::Key_Home: ctrl ? FirstPage() : h->setValue(0); break;
    case Qt::Key_End: ctrl ? LastPage() : h->setValue(h->maximum()); break;
    case Qt::Key_Left: h->setValue(h->value() - hStep); break;
    case Qt::Key_Right: h->setValue(h->value() + hStep); break;
    case Qt::Key_Up: v->setValue(v->value() - vStep); break;
    case Qt::Key_Down: v->setValue(v->value() + vStep); break;
    default:
      if (ctrl && e->key() == Qt::Key_C) {
        if (const int rc = CopyToClipboard(); rc < 0 && OnViewerError) OnViewerError(rc);
      } else if (ctrl && e->key() == Qt::Key_A) {
        SelectAll();
      } else {
        QAbstractScrollArea::keyPressEvent(e);
      }
      return;
  }
  e->accept();
}

// ---- marking and copying -------------------------------------------------------

QPoint TFxFaxViewer::PagePoint(const QPoint& viewportPoint) const {
  const QPoint p = viewportPoint + ScrollOffset();
  return {std::clamp(p.x(), 0, displayed_.width()), std::clamp(p.y(), 0, displayed_.height())};
}

void TFxFaxViewer::SetMark(const QRect& displayed) {
  const QRect r = displayed.normalized() & QRect(QPoint(0, 0), displayed_);
  hasMark_ = !r.isEmpty();
  mark_ = hasMark_ ? r : QRect();
  Repaint();
}

void TFxFaxViewer::ExtendMark(const QPoint& viewportPoint) {
  const QPoint p = PagePoint(viewportPoint);
  mark_ = QRect(QPoint(std::min(anchor_.x(), p.x()), std::min(anchor_.y(), p.y())),
                QPoint(std::max(anchor_.x(), p.x()) - 1, std::max(anchor_.y(), p.y()) - 1));
  hasMark_ = true;
  Repaint();
}

void TFxFaxViewer::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(e);
  hasMark_ = false;
  anchor_ = PagePoint(e->position().toPoint());
  mark_ = QRect(anchor_, QSize(0, 0));
  marking_ = true;
  lastPointer_ = e->position().toPoint();
  Repaint();
}

void TFxFaxViewer::mouseMoveEvent(QMouseEvent* e) {
  if (!marking_) return;
  lastPointer_ = e->position().toPoint();
  ExtendMark(lastPointer_);
  const bool outside = !viewport()->rect().contains(lastPointer_);
  if (outside && !autoScroll_.isActive()) autoScroll_.start();
  if (!outside) autoScroll_.stop();
}

void TFxFaxViewer::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !marking_) return;
  marking_ = false;
  autoScroll_.stop();
  ExtendMark(e->position().toPoint());
  if (mark_.width() <= 0 || mark_.height() <= 0) hasMark_ = false;
  Repaint();
}

void TFxFaxViewer::AutoScrollTick() {
  if (!marking_) {
    autoScroll_.stop();
    return;
  }
  const QRect r = viewport()->rect();
  auto steps = [](int distance) { return distance > 20 ? 2 : 1; };
  QScrollBar* h = horizontalScrollBar();
  QScrollBar* v = verticalScrollBar();
  const int hs = static_cast<int>(horizScroll_), vs = static_cast<int>(vertScroll_);
  if (lastPointer_.x() < r.left()) h->setValue(h->value() - hs * steps(r.left() - lastPointer_.x()));
  if (lastPointer_.x() > r.right()) h->setValue(h->value() + hs * steps(lastPointer_.x() - r.right()));
  if (lastPointer_.y() < r.top()) v->setValue(v->value() - vs * steps(r.top() - lastPointer_.y()));
  if (lastPointer_.y() > r.bottom()) v->setValue(v->value() + vs * steps(lastPointer_.y() - r.bottom()));
  ExtendMark(lastPointer_);
}

void TFxFaxViewer::SelectAll() { SetMark(QRect(QPoint(0, 0), displayed_)); }

int TFxFaxViewer::CopyToClipboard() {
  if (fileName_.isEmpty() || page_.Empty()) return kNoFax;
  if (!hasMark_) return kNoMark;
  const TViewScale s = Scale();
  TFxBitmap block;
  if (s.Identity()) {
    block = CopyBlock(page_, static_cast<unsigned>(mark_.x()), static_cast<unsigned>(mark_.y()),
                      static_cast<unsigned>(mark_.width()), static_cast<unsigned>(mark_.height()));
  } else {
    // The same block of the page in its own pixels, brought to the marked size.
    auto back = [](int v, unsigned mult, unsigned div) {
      return static_cast<unsigned>(uint64_t(v) * div / mult);
    };
    auto backUp = [](int v, unsigned mult, unsigned div) {
      return static_cast<unsigned>((uint64_t(v) * div + mult - 1) / mult);
    };
    const unsigned x = back(mark_.x(), s.horizMult, s.horizDiv);
    const unsigned y = back(mark_.y(), s.vertMult, s.vertDiv);
    const unsigned w = std::max(1u, backUp(mark_.width(), s.horizMult, s.horizDiv));
    const unsigned h = std::max(1u, backUp(mark_.height(), s.vertMult, s.vertDiv));
    block = FxStretchMono(CopyBlock(page_, x, y, w, h), static_cast<unsigned>(mark_.width()),
                          static_cast<unsigned>(mark_.height()));
  }
  QApplication::clipboard()->setImage(ToQImage(block));
  return 0;
}

// ---- dropped files ------------------------------------------------------------------

void TFxFaxViewer::dragEnterEvent(QDragEnterEvent* e) {
  if (acceptDragged_ && e->mimeData()->hasUrls() && e->mimeData()->urls().first().isLocalFile())
    e->acceptProposedAction();
}

void TFxFaxViewer::dragMoveEvent(QDragMoveEvent* e) {
  if (acceptDragged_ && e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void TFxFaxViewer::dropEvent(QDropEvent* e) {
  if (!acceptDragged_ || !e->mimeData()->hasUrls()) return;
  const QUrl url = e->mimeData()->urls().first();
  if (!url.isLocalFile()) return;
  e->acceptProposedAction();
  const QString name = url.toLocalFile();
  if (const int rc = SetFileName(name); rc < 0) {
    if (OnViewerError) OnViewerError(rc);
    return;
  }
  if (OnDropFile) OnDropFile(name);
}
