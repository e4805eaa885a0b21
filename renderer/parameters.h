// Parameter settings from the command line: by name or index as 0.0 to 1.0 values, and in the
// musical units of TempoFlanger's Tempo, Resolution and Waveform parameters.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tfrender {

constexpr int kMinBpm = 60;
constexpr int kMaxBpm = 200;
// The sweep cycles the Resolution parameter offers, in notes (beats), band by band.
constexpr std::array<int, 13> kNoteChoices{1, 2, 3, 4, 5, 6, 7, 8, 16, 32, 48, 64, 96};

enum class Waveform { Sine, Triangle, Sawtooth };

// Tempo value for a whole number of BPM from 60 to 200: (bpm - 60) / 140 in single precision.
// The plug-in's display of that value reads bpm again, for every bpm in the range.
float tempoValue(int bpm);

// A Resolution value in the middle of the band of `notes`, which must be one of kNoteChoices.
// The plug-in's bands are value < k * q with q = 1/13 in single precision, compared in double;
// (k + 0.5) / 13 lies well inside band k.
float resolutionValue(int notes);

// Waveform value: 0.0 sine, 0.5 triangle, 1.0 sawtooth (displays "sinus", "triangle", "sawtooth").
float waveformValue(Waveform shape);

// Parses "sine", "triangle" or "sawtooth", in any case. Throws RenderError.
Waveform parseWaveform(const std::string& text);

std::string trimmed(std::string_view text);

// What the user asked for, before it is matched against the module's parameters.
struct ParameterRequest {
  std::optional<int> program;
  std::vector<std::string> sets;  // "NAME=VALUE" as typed; NAME may be an index
  std::optional<int> bpm;
  std::optional<int> notes;
  std::optional<Waveform> waveform;
};

// Checks the ranges that do not depend on the module (BPM, notes). Throws RenderError.
void checkRequest(const ParameterRequest& request);

struct ParameterSetting {
  int32_t index;
  float value;
  std::string origin;  // how the user asked for it, for messages
};

// Matches the request against the module's parameter names (as the module reports them; names
// compare trimmed and case-insensitively). Returns one setting per parameter, in index order, the
// order a host restores a saved project in. Throws RenderError for an unknown name (listing the
// valid ones), a value that is not a number from 0.0 to 1.0, or a parameter set twice.
std::vector<ParameterSetting> resolveSettings(const ParameterRequest& request,
                                              const std::vector<std::string>& names);

// Index of the parameter called `key` (trimmed, any case) or numbered `key`; -1 when none is.
int32_t findParameter(const std::vector<std::string>& names, const std::string& key);

}  // namespace tfrender
