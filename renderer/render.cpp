#include "renderer/render.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "renderer/errors.h"

namespace tfrender {
namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void onInterrupt(int) { gInterrupted = 1; }

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A one-line bar on stderr, redrawn at most ten times a second once the render has run for a
// second; erased at the end.
class ProgressBar {
 public:
  ProgressBar(bool enabled, int64_t total, int sampleRate)
      : enabled_(enabled), total_(total), rate_(sampleRate), start_(Clock::now()) {}
  ~ProgressBar() { erase(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void update(int64_t done) {
    if (!enabled_) return;
    const double elapsed = secondsSince(start_);
    if (elapsed < 1.0 || elapsed - lastDraw_ < 0.1) return;
    lastDraw_ = elapsed;
    constexpr int kWidth = 30;
    const double fraction =
        total_ > 0 ? std::min(1.0, static_cast<double>(done) / static_cast<double>(total_)) : 0.0;
    const int filled = static_cast<int>(fraction * kWidth);
    const std::string bar =
        std::string(static_cast<std::size_t>(filled), '#') + std::string(kWidth - filled, '-');
    std::fprintf(stderr, "\r[%s] %3d%%  %.1f of %.1f s of audio", bar.c_str(),
                 static_cast<int>(fraction * 100.0), static_cast<double>(done) / rate_,
                 static_cast<double>(total_) / rate_);
    std::fflush(stderr);
    shown_ = true;
  }

  void erase() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
  }

 private:
  bool enabled_;
  int64_t total_;
  int rate_;
  Clock::time_point start_;
  double lastDraw_ = 0.0;
  bool shown_ = false;
};

}  // namespace

void catchInterrupts() {
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  // A second signal ends the command at once, should the first not be seen (a module that never
  // returns from an audio call).
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int number : {SIGINT, SIGTERM, SIGHUP})
    sigaction(number, &action, nullptr);
}

RenderSummary render(tfhost::Effect& effect, Source& source, OutputFile& output,
                     const RenderSettings& settings) {
  const int32_t block = settings.blockFrames;
  const auto size = static_cast<std::size_t>(block);
  std::vector<float> inLeft(size), inRight(size), outLeft(size), outRight(size);
  std::vector<float> interleaved(2 * size);
  float* inputs[2] = {inLeft.data(), inRight.data()};
  float* outputs[2] = {outLeft.data(), outRight.data()};

  const Clock::time_point start = Clock::now();
  ProgressBar progress(settings.progress, source.frames() + settings.tailFrames,
                       source.sampleRate());
  RenderSummary summary;
  bool sourceDone = false;
  int64_t tailLeft = settings.tailFrames;

  effect.resume();
  for (;;) {
    if (gInterrupted) throw RenderError("interrupted; no output written");
    int32_t frames = 0;
    if (!sourceDone) {
      frames = source.read(inLeft.data(), inRight.data(), block);
      sourceDone = frames == 0;
    }
    if (sourceDone) {
      if (tailLeft == 0) break;
      frames = static_cast<int32_t>(std::min<int64_t>(block, tailLeft));
      tailLeft -= frames;
      std::fill_n(inLeft.begin(), frames, 0.0f);
      std::fill_n(inRight.begin(), frames, 0.0f);
    }

    effect.processReplacing(inputs, outputs, frames);

    for (int32_t i = 0; i < frames; ++i) {
      const auto j = static_cast<std::size_t>(i);
      for (const float sample : {outLeft[j], outRight[j]}) {
        const float magnitude = std::fabs(sample);
        if (magnitude > summary.peak) summary.peak = magnitude;
        if (magnitude > 1.0f) ++summary.overFullScale;
      }
      interleaved[2 * j] = outLeft[j];
      interleaved[2 * j + 1] = outRight[j];
    }
    output.write(interleaved.data(), frames);
    summary.frames += frames;
    progress.update(summary.frames);
  }
  effect.suspend();
  progress.erase();
  summary.wallSeconds = secondsSince(start);
  return summary;
}

}  // namespace tfrender
