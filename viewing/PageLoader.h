#pragma once
// Unpacks fax pages on a worker thread so that a long page never stops the
// window. One request runs at a time; a newer request replaces one still
// waiting and stops the one running at its next block of input.

#include <QImage>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "faximage/FaxUnpacker.h"
#include "viewing/MonoRender.h"

struct TPageRequest {
  uint64_t generation = 0;  // increases with every request of one loader's owner
  std::string fileName;
  unsigned page = 1;
  TAutoScaleMode autoScaleMode = TAutoScaleMode::asDoubleHeight;
  bool whitespaceCompression = false;
  unsigned whitespaceFrom = 0, whitespaceTo = 0;
  int rotation = 0;  // quarter turns applied to the fresh page
  TViewScale scale;  // the painted image is made for this scale
  QRgb fg = qRgb(0, 0, 0), bg = qRgb(255, 255, 255);
};

struct TPageResult {
  TPageRequest request;
  int error = 0;    // the unpacker's code
  TFxBitmap upright;  // as unpacked; empty for a page without ink
  TFxBitmap page;     // upright turned by request.rotation
  QImage painted;   // RenderPage of page at request.scale
};

class TPageLoader {
 public:
  // Called on the worker thread with every finished (not superseded) request.
  using Deliver = std::function<void(TPageResult&&)>;
  explicit TPageLoader(Deliver deliver);
  TPageLoader(const TPageLoader&) = delete;
  TPageLoader& operator=(const TPageLoader&) = delete;
  // Stops a running unpack and waits for the worker.
  ~TPageLoader();

  void Request(TPageRequest request);
  // Drops what waits and stops what runs; nothing more is delivered for them.
  void Cancel();

  // The work of one request, also for callers that want it done in place.
  [[nodiscard]] static TPageResult Load(const TPageRequest& request, const std::function<bool()>& stop = {});

 private:
  void Run();

  Deliver deliver_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<TPageRequest> next_;
  bool quit_ = false;
  std::atomic<uint64_t> wanted_{0};  // generation whose result is still wanted
  std::thread worker_;
};
