#include "tests/renderer/support.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "host/host.h"

namespace tftest {
namespace {

namespace fs = std::filesystem;

// Far longer than any render of these tests takes, sanitizers included.
constexpr std::chrono::seconds kCommandTimeout{120};

std::string readAll(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    text.append(buffer, got);
  return text;
}

struct SndFile {
  SNDFILE* file = nullptr;
  ~SndFile() {
    if (file != nullptr) sf_close(file);
  }
};

}  // namespace

CommandResult runCommand(const std::vector<std::string>& args,
                         const CommandConditions& conditions) {
  std::vector<std::string> words{TF_TEMPOFLANGER};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), std::fclose);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> err(std::tmpfile(), std::fclose);
  if (!out || !err) throw std::runtime_error("tmpfile failed");
  std::fflush(nullptr);

  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    dup2(fileno(out.get()), STDOUT_FILENO);
    dup2(fileno(err.get()), STDERR_FILENO);
    if (conditions.fileSizeLimit) {
      const rlim_t bytes = *conditions.fileSizeLimit;
      const rlimit limit{bytes, bytes};
      setrlimit(RLIMIT_FSIZE, &limit);
      std::signal(SIGXFSZ, SIG_IGN);  // stays ignored across exec: writes fail with EFBIG
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  // A command that hangs (in a module's audio loop, say) fails its test instead of stalling the
  // run.
  const auto deadline = std::chrono::steady_clock::now() + kCommandTimeout;
  int status = 0;
  rusage usage{};
  bool timedOut = false;
  bool interrupted = false;
  for (;;) {
    const pid_t done = wait4(child, &status, WNOHANG, &usage);
    if (done == child) break;
    if (done < 0 && errno != EINTR) throw std::runtime_error("wait4 failed");
    if (!interrupted && conditions.interruptWhen && conditions.interruptWhen()) {
      kill(child, SIGINT);
      interrupted = true;
    }
    if (!timedOut && std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      timedOut = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  CommandResult result;
  result.maxResidentKb = usage.ru_maxrss;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readAll(out.get());
  result.err = readAll(err.get());
  if (timedOut)
    result.err += "(test: killed after " + std::to_string(kCommandTimeout.count()) + " s)\n";
  return result;
}

ScratchFolder::ScratchFolder() {
  std::string pattern = (fs::temp_directory_path() / "tf-renderer-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code error;
  fs::remove_all(path_, error);
}

std::vector<std::string> ScratchFolder::entries() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<float> testSignal(int64_t frames, int channels, float level, uint32_t seed) {
  std::vector<float> samples;
  samples.reserve(static_cast<std::size_t>(frames * channels));
  for (int64_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      seed = seed * 1664525u + 1013904223u;
      const double noise = static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
      const double tone = std::sin(0.0123 * static_cast<double>(i) * (c + 1));
      samples.push_back(static_cast<float>(level * (0.5 * noise + 0.5 * tone)));
    }
  }
  return samples;
}

void writeAudio(const std::string& path, const Audio& audio) {
  SF_INFO info{};
  info.samplerate = audio.sampleRate;
  info.channels = audio.channels;
  info.format = audio.format;
  SndFile file{sf_open(path.c_str(), SFM_WRITE, &info)};
  if (file.file == nullptr) throw std::runtime_error("cannot write " + path);
  sf_command(file.file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  if (sf_writef_float(file.file, audio.samples.data(), audio.frames()) != audio.frames()) {
    throw std::runtime_error("short write to " + path);
  }
}

Audio readAudio(const std::string& path) {
  SF_INFO info{};
  SndFile file{sf_open(path.c_str(), SFM_READ, &info)};
  if (file.file == nullptr) throw std::runtime_error("cannot read " + path);
  Audio audio;
  audio.sampleRate = info.samplerate;
  audio.channels = info.channels;
  audio.format = info.format;
  std::vector<float> block(4096 * static_cast<std::size_t>(info.channels));
  sf_count_t got = 0;
  while ((got = sf_readf_float(file.file, block.data(), 4096)) > 0) {
    audio.samples.insert(audio.samples.end(), block.begin(), block.begin() + got * info.channels);
  }
  return audio;
}

std::vector<short> readShorts(const std::string& path) {
  SF_INFO info{};
  SndFile file{sf_open(path.c_str(), SFM_READ, &info)};
  if (file.file == nullptr) throw std::runtime_error("cannot read " + path);
  std::vector<short> samples(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_short(file.file, samples.data(), info.frames);
  return samples;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

std::vector<float> hostRender(const Audio& input, const HostSetup& setup) {
  tfhost::Module module(TF_MODULE_PATH);
  const std::unique_ptr<tfhost::Effect> effect = module.instantiate();
  effect->open();
  effect->setSampleRate(static_cast<float>(input.sampleRate));
  effect->setBlockSize(setup.blockFrames);
  if (setup.program) effect->setProgram(*setup.program);
  for (const auto& [index, value] : setup.parameters)
    effect->setParameter(index, value);
  effect->resume();

  const auto block = static_cast<std::size_t>(setup.blockFrames);
  std::vector<float> inLeft(block), inRight(block), outLeft(block), outRight(block);
  float* inputs[2] = {inLeft.data(), inRight.data()};
  float* outputs[2] = {outLeft.data(), outRight.data()};
  std::vector<float> output;
  const auto run = [&](std::size_t frames) {
    effect->processReplacing(inputs, outputs, static_cast<int32_t>(frames));
    for (std::size_t i = 0; i < frames; ++i) {
      output.push_back(outLeft[i]);
      output.push_back(outRight[i]);
    }
  };

  const auto frames = static_cast<std::size_t>(input.frames());
  const auto channels = static_cast<std::size_t>(input.channels);
  for (std::size_t start = 0; start < frames; start += block) {
    const std::size_t count = std::min(block, frames - start);
    for (std::size_t i = 0; i < count; ++i) {
      inLeft[i] = input.samples[(start + i) * channels];
      inRight[i] = input.samples[(start + i) * channels + channels - 1];
    }
    run(count);
  }
  for (auto tail = static_cast<std::size_t>(setup.tailFrames); tail > 0;) {
    const std::size_t count = std::min(block, tail);
    std::fill(inLeft.begin(), inLeft.end(), 0.0f);
    std::fill(inRight.begin(), inRight.end(), 0.0f);
    run(count);
    tail -= count;
  }
  effect->suspend();
  return output;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    result.push_back(line);
  return result;
}

bool hasLine(const std::string& text, const std::string& pattern) {
  const std::regex expression(pattern);
  const std::vector<std::string> all = lines(text);
  return std::any_of(all.begin(), all.end(),
                     [&](const std::string& line) { return std::regex_match(line, expression); });
}

}  // namespace tftest
