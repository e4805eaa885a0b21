// What the renderer's tests share: running the command as a subprocess, a scratch folder, audio
// files through libsndfile, and a render through the host layer to compare the command with.
#pragma once

#include <sndfile.h>
#include <sys/resource.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tftest {

struct CommandResult {
  int exitCode = -1;  // 128 + signal number when the command was killed
  std::string out, err;
  long maxResidentKb = 0;  // the command's peak memory use
};

struct CommandConditions {
  // No file the command writes can grow past this many bytes (writes beyond it fail as on a full
  // disk).
  std::optional<rlim_t> fileSizeLimit;
  // Polled while the command runs; the first time it answers true, the command gets SIGINT.
  std::function<bool()> interruptWhen;
};

// Runs the built tempoflanger command with `args`.
CommandResult runCommand(const std::vector<std::string>& args,
                         const CommandConditions& conditions = {});

// A fresh folder, removed with everything in it at the end of the test.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string path(const std::string& name) const { return path_ + "/" + name; }
  // Names of the entries in the folder, sorted.
  std::vector<std::string> entries() const;

 private:
  std::string path_;
};

struct Audio {
  int sampleRate = 44100;
  int channels = 2;
  int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  std::vector<float> samples;  // interleaved
  int64_t frames() const { return static_cast<int64_t>(samples.size()) / channels; }
};

// A deterministic test signal: a sweep-friendly mix of noise and tones, peak `level`.
std::vector<float> testSignal(int64_t frames, int channels, float level, uint32_t seed = 1);

void writeAudio(const std::string& path, const Audio& audio);
// Reads as float samples; sampleRate, channels and format come from the file.
Audio readAudio(const std::string& path);
std::vector<short> readShorts(const std::string& path);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);

// How the command sets up the effect, repeated through the host layer.
struct HostSetup {
  int32_t blockFrames = 512;
  std::optional<int32_t> program;
  std::vector<std::pair<int32_t, float>> parameters;  // in the order to set them
  int64_t tailFrames = 0;
};

// Runs `input` (interleaved, mono or stereo; mono feeds both inputs) through the module at
// TF_MODULE_PATH in blocks of the setup's size, then the tail's silence; returns stereo
// interleaved output.
std::vector<float> hostRender(const Audio& input, const HostSetup& setup);

// True when some line of `text` matches the ECMAScript regular expression `pattern` whole.
bool hasLine(const std::string& text, const std::string& pattern);
std::vector<std::string> lines(const std::string& text);

}  // namespace tftest
