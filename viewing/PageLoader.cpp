#include "viewing/PageLoader.h"

#include <new>

#include "faximage/ErrorCodes.h"

TPageLoader::TPageLoader(Deliver deliver) : deliver_(std::move(deliver)), worker_([this] { Run(); }) {}

TPageLoader::~TPageLoader() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    next_.reset();
  }
  wanted_ = ~uint64_t{0};
  wake_.notify_all();
  worker_.join();
}

void TPageLoader::Request(TPageRequest request) {
  {
    std::lock_guard lock(mutex_);
    wanted_ = request.generation;
    next_ = std::move(request);
  }
  wake_.notify_all();
}

void TPageLoader::Cancel() {
  std::lock_guard lock(mutex_);
  next_.reset();
  wanted_ = ~uint64_t{0};
}

TPageResult TPageLoader::Load(const TPageRequest& request, const std::function<bool()>& stop) {
  TPageResult result;
  result.request = request;
  TFxFaxUnpacker unpacker;
  unpacker.SetOptions(0);
  unpacker.AutoScaleMode = request.autoScaleMode;
  unpacker.WhitespaceCompression = request.whitespaceCompression;
  unpacker.WhitespaceFrom = request.whitespaceFrom;
  unpacker.WhitespaceTo = request.whitespaceTo;
  unpacker.SetInFileName(request.fileName);
  bool stopped = false;
  if (stop) {
    unpacker.OnStatus = [&](TFxFaxUnpacker& sender, const std::string&, unsigned, uint64_t, uint64_t) {
      if (!stopped && stop()) {
        stopped = true;
        sender.Abort();
      }
    };
  }
  try {
    result.error = unpacker.TryPageToBitmap(request.page, result.upright);
    if (result.error == 0 && !stopped) {
      result.page = FxRotateMono(result.upright, request.rotation);
      result.painted = ReadyToPaint(RenderPage(result.page, request.scale, request.fg, request.bg));
    }
  } catch (const std::bad_alloc&) {
    result.error = FxErr::ecOutOfMemory;
    result.upright = {};
    result.page = {};
  }
  return result;
}

void TPageLoader::Run() {
  for (;;) {
    TPageRequest request;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return quit_ || next_.has_value(); });
      if (quit_) return;
      request = std::move(*next_);
      next_.reset();
    }
    const uint64_t generation = request.generation;
    TPageResult result = Load(request, [this, generation] { return wanted_.load() != generation; });
    if (wanted_.load() == generation) deliver_(std::move(result));
  }
}
