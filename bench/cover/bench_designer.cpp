// Dragging one object across a design surface of 500 objects at 100 %:
// the time of one frame (the mouse move and the painting it causes), with
// only the object's old and new places painted, against the baseline of the
// same run: the same frame with the whole surface painted again. The
// target: a frame takes at most 16 ms (median).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "cover/TFaxCoverPanel.h"

namespace {

void EnsureGui() {
  static int argc = 1;
  static char name[] = "bench_designer";
  static char* argv[] = {name, nullptr};
  if (QApplication::instance() == nullptr) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv);  // lives for the whole run
  }
}

// 500 objects of every kind spread over the page, overlapping, the way a
// busy template looks; the dragged one is a text box in the middle.
struct TDragSetup {
  TFaxCoverPanel panel;
  QPoint grab;
  int frame = 0;

  TDragSetup() {
    const TCoverObjectKind kinds[] = {TCoverObjectKind::ckText, TCoverObjectKind::ckShape, TCoverObjectKind::ckLine,
                                      TCoverObjectKind::ckField, TCoverObjectKind::ckSymbol};
    for (int i = 0; i < 500; ++i) {
      TCoverObject o = MakeCoverObject(kinds[i % 5]);
      o.Left = (i % 20) * 37;
      o.Top = (i / 20) * 37;
      o.Width = 120;
      o.Height = 30;
      o.Caption = "Object number " + std::to_string(i);
      o.Shape = static_cast<TShapeType>(i % kShapeTypes);
      panel.Surface().Add(o);
    }
    panel.SetDrawOutline(true);
    panel.show();
    QApplication::processEvents();
    const TCoverObject& target = panel.Surface().Objects()[250];
    grab = QPoint(target.Left + target.Width / 2, target.Top + target.Height / 2);
    Send(QEvent::MouseButtonPress, grab);
    Send(QEvent::MouseButtonRelease, grab);
    Send(QEvent::MouseButtonPress, grab);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // past the drag delay
    QApplication::processEvents();
  }
  ~TDragSetup() { Send(QEvent::MouseButtonRelease, grab); }

  void Send(QEvent::Type type, QPoint at) {
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, at, panel.mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  buttons, Qt::NoModifier);
    QApplication::sendEvent(&panel, &e);
  }
  // One step of the drag, back and forth over 40 pixels.
  void Frame(bool whole) {
    ++frame;
    const int offset = (frame % 40) - 20;
    Send(QEvent::MouseMove, grab + QPoint(offset, offset / 2));
    if (whole) panel.update();
    QApplication::processEvents();
  }
};

double Median(std::vector<double>& v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Both frames taken in turn within each iteration, so that they see the
// same machine; the counters are medians in milliseconds and their ratio.
void BM_DragOneOf500(benchmark::State& state) {
  EnsureGui();
  TDragSetup setup;
  std::vector<double> partial, whole, ratios;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    setup.Frame(true);
    const auto t1 = std::chrono::steady_clock::now();
    setup.Frame(false);
    const auto t2 = std::chrono::steady_clock::now();
    whole.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    partial.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
    ratios.push_back(partial.back() / whole.back());
  }
  state.counters["frame_ms"] = Median(partial);
  state.counters["baseline_full_repaint_ms"] = Median(whole);
  state.counters["ratio"] = Median(ratios);
}

}  // namespace

BENCHMARK(BM_DragOneOf500)->Unit(benchmark::kMillisecond)->MinTime(2.0);
