// Audio files through libsndfile: the input read in blocks, the output's format chosen from its
// file name, and an output written to a temporary file that replaces the target only when complete.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

#include "renderer/source.h"

namespace tfrender {

// An input file opened for reading, mono or stereo. Throws RenderError when the file is missing,
// unreadable, in a format libsndfile does not read, or has more than two channels.
class InputFile final : public Source {
 public:
  InputFile(const std::string& path, int32_t blockFrames);
  ~InputFile() override;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  int sampleRate() const override { return info_.samplerate; }
  int64_t frames() const override { return info_.frames; }
  int channels() const { return info_.channels; }
  int format() const { return info_.format; }

  // Reads up to `frames` frames (at most the block size) as two channels; a mono file feeds both.
  // Returns the frames read, fewer only at the end of the file. Throws RenderError.
  int32_t read(float* left, float* right, int32_t frames) override;

 private:
  std::string path_;
  SF_INFO info_{};
  SNDFILE* file_ = nullptr;
  std::vector<float> interleaved_;
};

struct OutputFormat {
  int format = 0;           // libsndfile major type | subtype
  std::string description;  // e.g. "WAV 32-bit float"
  bool clips = false;       // integer samples: values beyond full scale are clipped
};

// "WAV 16-bit", "FLAC 24-bit", "Ogg Vorbis", ...
std::string describeFormat(int format);

// Checks that the output's file name ends in an extension the renderer writes (.wav, .aiff,
// .aif, .flac, .ogg, any case) and returns its libsndfile major type. Throws RenderError.
int outputMajorFormat(const std::string& path);

// The output format for `path`: the input's sample format where the output's file type can hold
// it (inputFormat 0 when there is no input: 32-bit float), 32-bit float when `forceFloat`. FLAC
// holds at most 24-bit integers; Ogg is always Vorbis. Throws RenderError.
OutputFormat chooseOutputFormat(const std::string& path, int inputFormat, bool forceFloat,
                                int sampleRate);

// A stereo output file, written to a temporary file beside the target. commit() completes it and
// renames it over the target; until then the target is untouched, and destruction without commit
// removes the temporary file.
class OutputFile {
 public:
  // Throws RenderError when the target's folder cannot take a new file.
  OutputFile(const std::string& path, const OutputFormat& format, int sampleRate);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes interleaved stereo frames. Throws RenderError.
  void write(const float* interleaved, int32_t frames);
  // Finishes the file, flushes it to disk and renames it over the target. Throws RenderError.
  void commit();

  const std::string& path() const { return path_; }

 private:
  void discard() noexcept;

  std::string path_;
  std::string temporary_;
  int descriptor_ = -1;
  SNDFILE* file_ = nullptr;
};

}  // namespace tfrender
