// What the flanger costs a host: the audio calls per stereo frame, one parameter change, one
// program switch, and in the same run the floor (a plain ring-buffer mix loop) that every figure
// is also given against.
//
// The effect is loaded from the built module and driven through its record's entry functions,
// exactly as a host drives it: the figures include the entry trampolines and the module's own
// build settings, and they measure the artefact that ships rather than a copy of its code.
//
// Extra flags besides Google Benchmark's: --summary=FILE also writes the summary table as
// tab-separated `name value unit ratio` lines.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/floor_loop.h"
#include "host/host.h"

namespace {

constexpr int32_t kBlocks[] = {32, 64, 256, 1024};
constexpr int32_t kMaxBlock = 1024;
constexpr const char* kPerFrame = "per_frame";

enum Param : int32_t { kTempo, kResolution, kSend, kDepth, kModAmt, kWaveform, kStereo, kBoost };
const char* const kParamNames[] = {"tempo",  "resolution", "send",   "depth",
                                   "modamt", "waveform",   "stereo", "boost"};

const tfhost::Module& module() {
  static const tfhost::Module instance(TF_MODULE_PATH);
  return instance;
}

// Stereo noise, the same in every run.
struct Signal {
  std::vector<float> inLeft, inRight, outLeft, outRight;
  float* in[2];
  float* out[2];
  Signal() : inLeft(kMaxBlock), inRight(kMaxBlock), outLeft(kMaxBlock), outRight(kMaxBlock) {
    std::mt19937 noise(2024);
    for (int32_t i = 0; i < kMaxBlock; ++i) {
      inLeft[i] = static_cast<float>(noise()) / 4294967296.0f * 2.0f - 1.0f;
      inRight[i] = static_cast<float>(noise()) / 4294967296.0f * 2.0f - 1.0f;
    }
    in[0] = inLeft.data();
    in[1] = inRight.data();
    out[0] = outLeft.data();
    out[1] = outRight.data();
  }
};

// An effect as a host sets it up before playing: opened, 44.1 kHz, resumed, default program.
std::unique_ptr<tfhost::Effect> playingEffect() {
  std::unique_ptr<tfhost::Effect> effect = module().instantiate();
  effect->open();
  effect->setSampleRate(44100.0f);
  effect->setBlockSize(kMaxBlock);
  effect->resume();
  return effect;
}

void setPerFrame(benchmark::State& state, int64_t frames) {
  state.counters[kPerFrame] = benchmark::Counter(
      static_cast<double>(frames),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void floorBench(benchmark::State& state, int32_t frames) {
  Signal signal;
  FloorRing ring;
  for (auto _ : state) {
    floorLoop(ring, signal.in[0], signal.in[1], signal.out[0], signal.out[1], frames);
    benchmark::ClobberMemory();
  }
  setPerFrame(state, frames);
}

void memcpyBench(benchmark::State& state, int32_t frames) {
  Signal signal;
  const size_t bytes = sizeof(float) * static_cast<size_t>(frames);
  for (auto _ : state) {
    std::memcpy(signal.out[0], signal.in[0], bytes);
    std::memcpy(signal.out[1], signal.in[1], bytes);
    benchmark::ClobberMemory();
  }
  setPerFrame(state, frames);
}

enum class Path { Plain, Panned, ModOff };

void audioBench(benchmark::State& state, bool accumulate, bool inPlace, Path path, float waveform,
                int32_t frames) {
  Signal signal;
  std::unique_ptr<tfhost::Effect> effect = playingEffect();
  effect->setParameter(kWaveform, waveform);
  // Default Stereo is 0.1, which pans; 0 keeps the plain mix with the sweep running.
  if (path == Path::Plain) effect->setParameter(kStereo, 0.0f);
  if (path == Path::ModOff) effect->setParameter(kModAmt, 0.0f);
  AEffect* record = effect->record();
  const AEffectProcessProc call = accumulate ? record->process : record->processReplacing;
  const size_t bytes = sizeof(float) * static_cast<size_t>(frames);
  for (auto _ : state) {
    if (inPlace) {
      std::memcpy(signal.out[0], signal.in[0], bytes);
      std::memcpy(signal.out[1], signal.in[1], bytes);
      call(record, signal.out, signal.out, frames);
    } else {
      call(record, signal.in, signal.out, frames);
    }
    benchmark::ClobberMemory();
  }
  setPerFrame(state, frames);
}

// Parameters alternate between two values, so that every call is a real change.
struct Change {
  float a, b;
};
// At the default program (120 BPM, 64 notes, sine).
const Change kDefaultChanges[] = {
    {0.428572f, 0.45f},                                              // Tempo 120 <-> 123 BPM
    {0.8462f, 0.77f},                                                // Resolution 64 <-> 48 notes
    {1.0f, 0.9f},       {0.25f, 0.3f}, {0.25f, 0.3f}, {0.0f, 0.5f},  // Waveform sine <-> triangle
    {0.1f, 0.2f},       {0.25f, 0.3f},
};
// At the longest table, 60 BPM with 96 notes (a 96-second cycle, cut to the table).
const Change kLargestChanges[] = {
    {0.0f, 0.001f},  // Tempo 60 <-> 60.14 BPM, both close to the longest table
    {1.0f, 0.9f},    // Resolution 96 <-> 64 notes
    {1.0f, 0.9f},   {0.25f, 0.3f}, {0.25f, 0.3f}, {0.0f, 0.5f}, {0.1f, 0.2f}, {0.25f, 0.3f},
};

void toLargestTable(tfhost::Effect& effect) {
  effect.setParameter(kTempo, 0.0f);
  effect.setParameter(kResolution, 1.0f);
}

void parameterBench(benchmark::State& state, bool largest, int32_t index) {
  std::unique_ptr<tfhost::Effect> effect = playingEffect();
  if (largest) toLargestTable(*effect);
  const Change change = (largest ? kLargestChanges : kDefaultChanges)[index];
  AEffect* record = effect->record();
  bool flip = false;
  for (auto _ : state) {
    record->setParameter(record, index, flip ? change.b : change.a);
    flip = !flip;
    benchmark::ClobberMemory();
  }
  setPerFrame(state, 1);
}

// Program 0 (default) <-> program 1 set to the longest table.
void programBench(benchmark::State& state) {
  std::unique_ptr<tfhost::Effect> effect = playingEffect();
  effect->setProgram(1);
  toLargestTable(*effect);
  AEffect* record = effect->record();
  VstIntPtr program = 0;
  for (auto _ : state) {
    record->dispatcher(record, effSetProgram, 0, program, nullptr, 0.0f);
    program ^= 1;
    benchmark::ClobberMemory();
  }
  setPerFrame(state, 1);
}

// One summary line per benchmark: per-frame figures against the floor at the same block size,
// per-call figures against the floor's cost of one frame at 256-frame blocks.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  explicit SummaryReporter(std::string summaryPath) : summaryPath(std::move(summaryPath)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (!single && !median) continue;
      const auto counter = run.counters.find(kPerFrame);
      if (counter == run.counters.end()) continue;
      std::string name = run.run_name.function_name;
      figures.push_back({name, counter->second.value * 1.0e9});
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::map<std::string, double> byName;
    for (const Figure& f : figures)
      byName[f.name] = f.ns;
    std::FILE* summary = summaryPath.empty() ? nullptr : std::fopen(summaryPath.c_str(), "w");
    std::printf("\n%-44s %12s %10s\n", "figure", "ns", "x floor");
    for (const Figure& f : figures) {
      const bool perFrame = f.name.rfind("setParameter", 0) != 0 && f.name.rfind("program", 0) != 0;
      const std::string floorName = perFrame ? "floor/" + blockOf(f.name) : "floor/256";
      const auto found = byName.find(floorName);
      const double ratio = found == byName.end() ? 0.0 : f.ns / found->second;
      std::printf("%-44s %12.3f %10.3f  %s\n", f.name.c_str(), f.ns, ratio,
                  perFrame ? "per frame" : "per call (ratio: floor frames)");
      if (summary) {
        std::fprintf(summary, "%s\t%.4f\t%s\t%.4f\n", f.name.c_str(), f.ns,
                     perFrame ? "ns/frame" : "ns/call", ratio);
      }
    }
    const auto ratio = [&](const std::string& a, const std::string& b) {
      const auto x = byName.find(a);
      const auto y = byName.find(b);
      return x == byName.end() || y == byName.end() ? 0.0 : x->second / y->second;
    };
    std::printf("\nGoals\n");
    std::printf("  audio loop at 256 frames (replacing, panned, sine) / floor: %.3f (<= 0.5)\n",
                ratio("replacing/panned/sine/256", "floor/256"));
    std::printf("  audio loop at 256 frames (replacing, plain, sine) / floor:  %.3f (<= 0.5)\n",
                ratio("replacing/plain/sine/256", "floor/256"));
    std::printf("  Depth change / Tempo change at the longest table:   %.3f (<= 0.1)\n",
                ratio("setParameter/largest/depth", "setParameter/largest/tempo"));
    std::printf("  Mod Amt change / Tempo change at the longest table: %.3f (<= 0.1)\n",
                ratio("setParameter/largest/modamt", "setParameter/largest/tempo"));
    if (summary) std::fclose(summary);
  }

 private:
  struct Figure {
    std::string name;
    double ns;
  };
  static std::string blockOf(const std::string& name) { return name.substr(name.rfind('/') + 1); }
  std::vector<Figure> figures;
  std::string summaryPath;
};

void registerAll() {
  for (int32_t frames : kBlocks) {
    const std::string block = std::to_string(frames);
    benchmark::RegisterBenchmark(("floor/" + block).c_str(), floorBench, frames);
  }
  benchmark::RegisterBenchmark("memcpy/256", memcpyBench, 256);
  struct Shape {
    const char* name;
    float waveform;
  };
  const Shape shapes[] = {{"sine", 0.0f}, {"triangle", 0.5f}, {"ramp", 1.0f}};
  for (bool accumulate : {false, true}) {
    const std::string call = accumulate ? "process/" : "replacing/";
    for (Path path : {Path::Plain, Path::Panned}) {
      const std::string pathName = path == Path::Plain ? "plain/" : "panned/";
      for (const Shape& shape : shapes) {
        for (int32_t frames : kBlocks) {
          const std::string name = call + pathName + shape.name + "/" + std::to_string(frames);
          benchmark::RegisterBenchmark(name.c_str(), audioBench, accumulate, false, path,
                                       shape.waveform, frames);
        }
      }
    }
    for (int32_t frames : kBlocks) {
      const std::string name = call + "modoff/" + std::to_string(frames);
      benchmark::RegisterBenchmark(name.c_str(), audioBench, accumulate, false, Path::ModOff, 0.0f,
                                   frames);
    }
  }
  // In place, as many hosts call: the output buffers are the input buffers. The input is copied
  // into them before each call, so these figures include two memcpy (see memcpy/256).
  for (Path path : {Path::Plain, Path::Panned}) {
    for (int32_t frames : kBlocks) {
      const std::string name = std::string("inplace/") +
                               (path == Path::Plain ? "plain" : "panned") + "/sine/" +
                               std::to_string(frames);
      benchmark::RegisterBenchmark(name.c_str(), audioBench, false, true, path, 0.0f, frames);
    }
  }
  for (bool largest : {false, true}) {
    for (int32_t index = 0; index < 8; ++index) {
      const std::string name =
          std::string("setParameter/") + (largest ? "largest/" : "default/") + kParamNames[index];
      benchmark::RegisterBenchmark(name.c_str(), parameterBench, largest, index);
    }
  }
  benchmark::RegisterBenchmark("program/default-largest", programBench);
}

}  // namespace

int main(int argc, char** argv) {
  std::string summaryPath;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--summary=", 10) == 0) {
      summaryPath = argv[i] + 10;
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  registerAll();
  SummaryReporter reporter(summaryPath);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
