#include "renderer/commands.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "host/host.h"
#include "renderer/audio_file.h"
#include "renderer/demo.h"
#include "renderer/errors.h"
#include "renderer/module_path.h"
#include "renderer/render.h"
#include "renderer/report.h"

namespace tfrender {
namespace {

// The demo's own Resolution unless the user chooses one: a sweep cycle of one bar, so that four
// bars let the whole sweep be heard four times over.
constexpr int kDemoNotes = 4;

std::string modulePathFor(const std::string& plugin) {
  return plugin.empty() ? defaultModulePath() : plugin;
}

std::string count(int32_t n, const std::string& noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

// The renderer feeds two channels and reads two back.
void checkStereoEffect(const tfhost::Effect& effect) {
  const AEffect& record = *effect.record();
  if (record.numInputs != 2 || record.numOutputs != 2) {
    throw RenderError("module '" + effect.modulePath() + "' has " +
                      count(record.numInputs, "input") + " and " +
                      count(record.numOutputs, "output") +
                      "; tempoflanger needs an effect with 2 inputs and 2 outputs");
  }
  if (record.processReplacing == nullptr) {
    throw RenderError("module '" + effect.modulePath() + "' offers no processReplacing");
  }
}

// The whole BPM the demo plays at: the Tempo parameter as the plug-in reads it (60 to 200 BPM
// over 0.0 to 1.0), or 120 for a module without one.
double demoBpm(tfhost::Effect& effect, const std::vector<std::string>& names) {
  const int32_t tempo = findParameter(names, "Tempo");
  if (tempo < 0) return 120.0;
  const float bpm = effect.getParameter(tempo) * 140.0f + 60.0f;
  const double whole = std::round(static_cast<double>(bpm));
  return whole >= kMinBpm && whole <= kMaxBpm ? whole : 120.0;
}

std::string decibels(float peak) {
  if (!(peak > 0.0f)) return "-inf dBFS";
  char text[32];
  std::snprintf(text, sizeof text, "%+.1f dBFS", 20.0 * std::log10(static_cast<double>(peak)));
  return text;
}

void printSummary(const RenderSummary& summary, const OutputFormat& format, int sampleRate,
                  const std::string& output) {
  const double audioSeconds = static_cast<double>(summary.frames) / sampleRate;
  char line[256];
  std::snprintf(line, sizeof line, "%lld frames, %.2f s of audio in %.2f s (%.1fx real time)",
                static_cast<long long>(summary.frames), audioSeconds, summary.wallSeconds,
                audioSeconds / std::max(summary.wallSeconds, 1e-6));

  std::error_code error;
  const std::filesystem::path where = std::filesystem::absolute(output, error);
  std::vector<std::pair<std::string, std::string>> rows{
      {"rendered", line},
      {"output", (error ? output : where.string()) + " (" + format.description + ", " +
                     std::to_string(sampleRate) + " Hz, stereo)"}};

  std::string level = "peak " + decibels(summary.peak) + ", ";
  const std::string over = std::to_string(summary.overFullScale);
  if (summary.overFullScale == 0) {
    level += "no samples above full scale";
  } else if (format.clips) {
    level += over + " samples clipped at full scale";
  } else {
    level += over + " samples above full scale, kept by the " + format.description + " file";
  }
  rows.emplace_back("level", level);
  if (summary.overFullScale > 0 && format.clips) {
    rows.emplace_back("hint",
                      "write float samples (--float, with .wav or .aiff), or lower 12 dB Boost "
                      "(0.25 is 0 dB) or Send");
  }
  for (const auto& [key, text] : rows) {
    std::cout << key << std::string(10 - key.size(), ' ') << text << '\n';
  }
}

}  // namespace

void runRender(const RenderOptions& options) {
  checkRequest(options.parameters);
  if (options.blockFrames < 1 || options.blockFrames > kMaxBlockFrames) {
    throw RenderError("--block " + std::to_string(options.blockFrames) + " is out of range 1 to " +
                      std::to_string(kMaxBlockFrames));
  }
  if (!(options.tailSeconds >= 0.0 && options.tailSeconds <= kMaxTailSeconds)) {
    throw RenderError("--tail is out of range 0 to " +
                      std::to_string(static_cast<int>(kMaxTailSeconds)) + " seconds");
  }
  outputMajorFormat(options.output);  // an unsupported output type fails before any work

  // From here on Ctrl-C stops the render at its next block, so that no temporary file stays.
  catchInterrupts();

  std::unique_ptr<InputFile> input;
  if (!options.input.empty()) {
    input = std::make_unique<InputFile>(options.input, options.blockFrames);
  }
  const int sampleRate = input ? input->sampleRate() : DemoSource::kSampleRate;
  const OutputFormat format = chooseOutputFormat(options.output, input ? input->format() : 0,
                                                 options.forceFloat, sampleRate);

  const tfhost::Module module(modulePathFor(options.plugin));
  const std::unique_ptr<tfhost::Effect> effect = module.instantiate();
  checkStereoEffect(*effect);

  // Set up as a host inserting the effect does, then the user's program and parameters.
  effect->open();
  effect->setSampleRate(static_cast<float>(sampleRate));
  effect->setBlockSize(options.blockFrames);
  const ParameterRequest& request = options.parameters;
  if (request.program) {
    const int32_t programs = effect->record()->numPrograms;
    if (*request.program >= programs) {
      throw RenderError("--program " + std::to_string(*request.program) + " is out of range 0 to " +
                        std::to_string(programs - 1));
    }
    effect->setProgram(*request.program);
  }
  const std::vector<std::string> names = parameterNames(*effect);
  std::vector<ParameterSetting> settings = resolveSettings(request, names);
  const int32_t resolution = findParameter(names, "Resolution");
  if (!input && !request.program && resolution >= 0) {
    const bool chosen = std::any_of(settings.begin(), settings.end(), [&](const auto& setting) {
      return setting.index == resolution;
    });
    if (!chosen) {
      settings.push_back({resolution, resolutionValue(kDemoNotes), "the demo"});
      std::sort(settings.begin(), settings.end(),
                [](const auto& a, const auto& b) { return a.index < b.index; });
    }
  }
  for (const ParameterSetting& setting : settings) {
    effect->setParameter(setting.index, setting.value);
  }

  std::unique_ptr<Source> demo;
  if (!input) demo = std::make_unique<DemoSource>(demoBpm(*effect, names));
  Source& source = input ? static_cast<Source&>(*input) : *demo;

  OutputFile output(options.output, format, sampleRate);

  if (!options.quiet) {
    if (input) {
      std::cout << "input     " << options.input << " (" << describeFormat(input->format()) << ", "
                << sampleRate << " Hz, " << (input->channels() == 1 ? "mono" : "stereo") << ")\n";
    } else {
      std::cout << "input     the built-in demo: " << DemoSource::kBars << " bars of 4/4 at "
                << demoBpm(*effect, names) << " BPM, " << sampleRate << " Hz, stereo\n";
    }
    std::cout << "module    " << module.path() << "\n";
    std::cout << "program   " << effect->program() << " (" << effect->programName() << ")\n\n";
    printParameters(std::cout, readParameters(*effect));
    std::cout << '\n';
    std::cout.flush();
  }

  RenderSettings renderSettings;
  renderSettings.blockFrames = options.blockFrames;
  renderSettings.tailFrames = std::llround(options.tailSeconds * sampleRate);
  renderSettings.progress = !options.quiet && isatty(STDERR_FILENO) != 0;
  const RenderSummary summary = render(*effect, source, output, renderSettings);
  output.commit();

  if (!options.quiet) printSummary(summary, format, sampleRate, options.output);
}

void runInfo(const std::string& plugin) {
  const tfhost::Module module(modulePathFor(plugin));
  const std::unique_ptr<tfhost::Effect> effect = module.instantiate();
  effect->open();
  printIdentity(std::cout, module, *effect);
  std::cout << '\n';
  printParameters(std::cout, readParameters(*effect));
  std::cout << '\n';
  printPrograms(std::cout, module);
}

}  // namespace tfrender
