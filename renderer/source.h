// Where the audio to render comes from: an input file or the built-in demo.
#pragma once

#include <cstdint>

namespace tfrender {

class Source {
 public:
  virtual ~Source() = default;
  virtual int sampleRate() const = 0;
  // Total frames, for the progress bar.
  virtual int64_t frames() const = 0;
  // Fills up to `frames` frames of both channels; returns the frames filled, 0 at the end.
  virtual int32_t read(float* left, float* right, int32_t frames) = 0;
};

}  // namespace tfrender
