#include "renderer/parameters.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "renderer/errors.h"

namespace tfrender {
namespace {

std::string lowered(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

std::string validNames(const std::vector<std::string>& names) {
  if (names.empty()) return "the module has no parameters";
  std::string list;
  for (const std::string& name : names) {
    if (!list.empty()) list += ", ";
    list += trimmed(name);
  }
  return "valid names: " + list + " (or an index 0 to " + std::to_string(names.size() - 1) + ")";
}

// A parameter value as typed: a number from 0.0 to 1.0, read as the nearest float.
float parseValue(const std::string& text, const std::string& origin) {
  const std::string number = trimmed(text);
  char* end = nullptr;
  errno = 0;
  const float value = std::strtof(number.c_str(), &end);
  if (number.empty() || end != number.c_str() + number.size() || !std::isfinite(value)) {
    throw RenderError(origin + ": '" + number + "' is not a number");
  }
  if (!(value >= 0.0f && value <= 1.0f)) {
    throw RenderError(origin + ": value " + number + " is out of range 0.0 to 1.0");
  }
  return value;
}

}  // namespace

float tempoValue(int bpm) { return static_cast<float>(bpm - kMinBpm) / 140.0f; }

float resolutionValue(int notes) {
  const auto found = std::find(kNoteChoices.begin(), kNoteChoices.end(), notes);
  if (found == kNoteChoices.end())
    throw RenderError("no Resolution band of " + std::to_string(notes) + " notes");
  const auto band = static_cast<double>(found - kNoteChoices.begin());
  return static_cast<float>((band + 0.5) / 13.0);
}

float waveformValue(Waveform shape) {
  switch (shape) {
    case Waveform::Triangle:
      return 0.5f;
    case Waveform::Sawtooth:
      return 1.0f;
    case Waveform::Sine:
    default:
      return 0.0f;
  }
}

Waveform parseWaveform(const std::string& text) {
  const std::string key = lowered(trimmed(text));
  if (key == "sine") return Waveform::Sine;
  if (key == "triangle") return Waveform::Triangle;
  if (key == "sawtooth") return Waveform::Sawtooth;
  throw RenderError("--waveform '" + text + "' is not one of sine, triangle, sawtooth");
}

std::string trimmed(std::string_view text) {
  const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && space(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && space(text.back()))
    text.remove_suffix(1);
  return std::string(text);
}

void checkRequest(const ParameterRequest& request) {
  if (request.bpm && (*request.bpm < kMinBpm || *request.bpm > kMaxBpm)) {
    throw RenderError("--bpm " + std::to_string(*request.bpm) + " is out of range " +
                      std::to_string(kMinBpm) + " to " + std::to_string(kMaxBpm));
  }
  if (request.notes &&
      std::find(kNoteChoices.begin(), kNoteChoices.end(), *request.notes) == kNoteChoices.end()) {
    std::string choices;
    for (int notes : kNoteChoices)
      choices += " " + std::to_string(notes);
    throw RenderError("--notes " + std::to_string(*request.notes) + " is not one of" + choices);
  }
  if (request.program && *request.program < 0) {
    throw RenderError("--program " + std::to_string(*request.program) + " is out of range");
  }
}

int32_t findParameter(const std::vector<std::string>& names, const std::string& key) {
  const std::string wanted = lowered(trimmed(key));
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (lowered(trimmed(names[i])) == wanted) return static_cast<int32_t>(i);
  }
  if (!wanted.empty() && wanted.size() <= 9 &&
      std::all_of(wanted.begin(), wanted.end(),
                  [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
    const long index = std::strtol(wanted.c_str(), nullptr, 10);
    if (index < static_cast<long>(names.size())) return static_cast<int32_t>(index);
  }
  return -1;
}

std::vector<ParameterSetting> resolveSettings(const ParameterRequest& request,
                                              const std::vector<std::string>& names) {
  std::vector<ParameterSetting> settings;
  const auto add = [&](int32_t index, float value, const std::string& origin) {
    for (const ParameterSetting& earlier : settings) {
      if (earlier.index == index) {
        throw RenderError(trimmed(names[static_cast<std::size_t>(index)]) + " is set twice (" +
                          earlier.origin + " and " + origin + ")");
      }
    }
    settings.push_back({index, value, origin});
  };

  for (const std::string& set : request.sets) {
    const std::string origin = "--set '" + set + "'";
    const std::size_t equals = set.find('=');
    if (equals == std::string::npos || trimmed(set.substr(0, equals)).empty()) {
      throw RenderError(origin + ": expected NAME=VALUE");
    }
    const std::string name = set.substr(0, equals);
    const int32_t index = findParameter(names, name);
    if (index < 0) {
      throw RenderError("unknown parameter '" + trimmed(name) + "'; " + validNames(names));
    }
    add(index, parseValue(set.substr(equals + 1), origin), origin);
  }

  // The musical options address TempoFlanger's parameters by name.
  const auto musical = [&](const char* name, const std::string& origin) {
    const int32_t index = findParameter(names, name);
    if (index < 0) {
      throw RenderError(origin + " needs a parameter named " + name + "; the module has none (" +
                        validNames(names) + ")");
    }
    return index;
  };
  if (request.bpm) {
    const std::string origin = "--bpm " + std::to_string(*request.bpm);
    add(musical("Tempo", origin), tempoValue(*request.bpm), origin);
  }
  if (request.notes) {
    const std::string origin = "--notes " + std::to_string(*request.notes);
    add(musical("Resolution", origin), resolutionValue(*request.notes), origin);
  }
  if (request.waveform) {
    static const char* const kShapes[] = {"sine", "triangle", "sawtooth"};
    const std::string origin =
        std::string("--waveform ") + kShapes[static_cast<int>(*request.waveform)];
    add(musical("Waveform", origin), waveformValue(*request.waveform), origin);
  }

  std::sort(settings.begin(), settings.end(),
            [](const ParameterSetting& a, const ParameterSetting& b) { return a.index < b.index; });
  return settings;
}

}  // namespace tfrender
