// The tempoflanger command's render, run as a subprocess: its output against the same audio
// driven through the host layer directly, the sample formats it writes, the demo, and what it
// prints.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "renderer/parameters.h"
#include "tests/renderer/support.h"

namespace tftest {
namespace {

// Index of the first sample whose bits differ, or -1 when all match (and the lengths agree).
int64_t firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) return static_cast<int64_t>(i);
  }
  return a.size() == b.size() ? -1 : static_cast<int64_t>(n);
}

// Parameter indices of TempoFlanger.
enum : int32_t { kTempo, kResolution, kSend, kDepth, kModAmount, kWaveform, kStereo, kBoost };

struct BitExactCase {
  const char* name;
  int sampleRate;
  int channels;
  int64_t frames;
  std::vector<std::string> options;
  HostSetup setup;  // the same setup, as the host layer makes it
};

void PrintTo(const BitExactCase& c, std::ostream* out) { *out << c.name; }

class RenderBitExact : public ::testing::TestWithParam<BitExactCase> {};

TEST_P(RenderBitExact, OutputEqualsTheHostLayersRenderBitForBit) {
  const BitExactCase& c = GetParam();
  ScratchFolder folder;
  Audio input;
  input.sampleRate = c.sampleRate;
  input.channels = c.channels;
  input.samples = testSignal(c.frames, c.channels, 0.4f);
  writeAudio(folder.path("in.wav"), input);

  std::vector<std::string> args{"render", folder.path("in.wav"), "-o", folder.path("out.wav"),
                                "--quiet"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  const CommandResult result = runCommand(args);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");

  const Audio output = readAudio(folder.path("out.wav"));
  EXPECT_EQ(output.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  EXPECT_EQ(output.sampleRate, c.sampleRate);
  ASSERT_EQ(output.channels, 2);
  EXPECT_EQ(output.frames(), c.frames + c.setup.tailFrames);

  const std::vector<float> expected = hostRender(input, c.setup);
  EXPECT_EQ(firstDifference(output.samples, expected), -1);
  // The tail is not silent: the delayed signal rings out into it.
  if (c.setup.tailFrames > 0) {
    EXPECT_NE(output.samples[static_cast<std::size_t>(c.frames) * 2], 0.0f);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RenderBitExact,
    ::testing::Values(
        BitExactCase{"Defaults", 44100, 2, 2 * 44100 + 123, {}, {}},
        BitExactCase{"MusicalUnitsAt48k",
                     48000,
                     2,
                     3 * 48000,
                     {"--bpm", "97", "--notes", "4", "--waveform", "triangle", "--set",
                      "mod amt=0.6", "--set", "6=0.8", "--block", "300", "--tail", "0.25"},
                     {300,
                      std::nullopt,
                      {{kTempo, 37.0f / 140.0f},
                       {kResolution, static_cast<float>(3.5 / 13.0)},
                       {kModAmount, 0.6f},
                       {kWaveform, 0.5f},
                       {kStereo, 0.8f}},
                      12000}},
        // Settings apply in index order after the program, whatever their order on the line.
        BitExactCase{"ProgramThenSettingsOneFrameBlocksMono",
                     22050,
                     1,
                     5000,
                     {"--set", "mod amt=0.9", "--set", "Depth=0.95", "--waveform", "sawtooth",
                      "--program", "3", "--block", "1", "--tail", "0.01"},
                     {1, 3, {{kDepth, 0.95f}, {kModAmount, 0.9f}, {kWaveform, 1.0f}}, 221}}),
    [](const ::testing::TestParamInfo<BitExactCase>& info) { return info.param.name; });

// Integer output keeps the input's sample format and clips at full scale, never wraps; the
// summary counts the clipped samples and says what to do about them.
struct IntegerCase {
  const char* name;
  int channels;
  float level;
  std::vector<std::string> options;
  HostSetup setup;
  bool clips;
};

void PrintTo(const IntegerCase& c, std::ostream* out) { *out << c.name; }

class RenderInteger : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(RenderInteger, ClipsAtFullScaleAndReportsIt) {
  const IntegerCase& c = GetParam();
  ScratchFolder folder;
  Audio input;
  input.channels = c.channels;
  input.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  input.samples = testSignal(30000, c.channels, c.level);
  writeAudio(folder.path("in.wav"), input);
  const Audio quantized = readAudio(folder.path("in.wav"));  // what the command reads

  std::vector<std::string> args{"render", folder.path("in.wav"), "-o", folder.path("out.wav")};
  args.insert(args.end(), c.options.begin(), c.options.end());
  const CommandResult result = runCommand(args);
  ASSERT_EQ(result.exitCode, 0) << result.err;

  const Audio output = readAudio(folder.path("out.wav"));
  EXPECT_EQ(output.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  ASSERT_EQ(output.channels, 2);

  const std::vector<float> expected = hostRender(quantized, c.setup);
  const std::vector<short> written = readShorts(folder.path("out.wav"));
  ASSERT_EQ(written.size(), expected.size());
  int64_t over = 0;
  float peak = 0.0f;
  bool channelsDiffer = false;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    peak = std::max(peak, std::fabs(expected[i]));
    if (expected[i] > 1.0f) {
      EXPECT_EQ(written[i], 32767) << "sample " << i;
      ++over;
    } else if (expected[i] < -1.0f) {
      EXPECT_EQ(written[i], -32768) << "sample " << i;
      ++over;
    } else {
      EXPECT_NEAR(written[i], expected[i] * 32768.0f, 1.0f) << "sample " << i;
    }
    if (i % 2 == 1 && written[i] != written[i - 1]) channelsDiffer = true;
  }
  EXPECT_TRUE(channelsDiffer) << "Stereo pans the channels apart";
  EXPECT_EQ(over > 0, c.clips);

  char level[64];
  std::snprintf(level, sizeof level, "peak %+.1f dBFS, ",
                20.0 * std::log10(static_cast<double>(peak)));
  if (c.clips) {
    EXPECT_NE(result.out.find(level + std::to_string(over) + " samples clipped at full scale"),
              std::string::npos)
        << result.out;
    EXPECT_TRUE(hasLine(result.out, "hint +.*--float.*Boost.*Send.*")) << result.out;
  } else {
    EXPECT_NE(result.out.find(level + std::string("no samples above full scale")),
              std::string::npos)
        << result.out;
    EXPECT_FALSE(hasLine(result.out, "hint.*")) << result.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, RenderInteger,
                         ::testing::Values(
                             // A mono file feeds both inputs; the output is stereo.
                             IntegerCase{"MonoInput",
                                         1,
                                         0.3f,
                                         {"--set", "stereo=0.7", "--set", "mod amt=0.5"},
                                         {512, std::nullopt, {{kModAmount, 0.5f}, {kStereo, 0.7f}}},
                                         false},
                             IntegerCase{"LoudStereoWithBoost",
                                         2,
                                         0.9f,
                                         {"--set", "12 dB Boost=1", "--set", "stereo=0.7"},
                                         {512, std::nullopt, {{kStereo, 0.7f}, {kBoost, 1.0f}}},
                                         true}),
                         [](const ::testing::TestParamInfo<IntegerCase>& info) {
                           return info.param.name;
                         });

TEST(RenderFloat, KeepsPeaksAboveFullScaleAndSaysSo) {
  ScratchFolder folder;
  const CommandResult result =
      runCommand({"render", "-o", folder.path("loud.wav"), "--set", "12 dB boost=1"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const Audio output = readAudio(folder.path("loud.wav"));
  int64_t over = 0;
  for (float sample : output.samples)
    over += std::fabs(sample) > 1.0f ? 1 : 0;
  EXPECT_GT(over, 0);
  EXPECT_TRUE(hasLine(result.out, "level +peak \\+[0-9.]+ dBFS, " + std::to_string(over) +
                                      " samples above full scale, kept by the WAV 32-bit float "
                                      "file"))
      << result.out;
  EXPECT_FALSE(hasLine(result.out, "hint.*")) << result.out;
}

// The output's file type follows its extension; its sample format follows the input's where the
// type can hold it.
struct FormatCase {
  const char* name;
  int inputFormat;
  const char* outputName;
  std::vector<std::string> options;
  int expectedFormat;
};

void PrintTo(const FormatCase& c, std::ostream* out) { *out << c.name; }

class RenderFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(RenderFormat, OutputTypeFollowsTheExtensionAndKeepsTheSampleFormat) {
  const FormatCase& c = GetParam();
  ScratchFolder folder;
  Audio input;
  input.sampleRate = 32000;
  input.format = c.inputFormat;
  input.samples = testSignal(20000, 2, 0.3f);
  writeAudio(folder.path("in"), input);

  std::vector<std::string> args{"render", folder.path("in"), "-o", folder.path(c.outputName), "-q"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  const CommandResult result = runCommand(args);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const Audio output = readAudio(folder.path(c.outputName));
  EXPECT_EQ(output.format & (SF_FORMAT_TYPEMASK | SF_FORMAT_SUBMASK), c.expectedFormat);
  EXPECT_EQ(output.sampleRate, 32000);
  EXPECT_EQ(output.channels, 2);
  const Audio read = readAudio(folder.path("in"));
  EXPECT_EQ(output.frames(), read.frames());
  EXPECT_GT(*std::max_element(output.samples.begin(), output.samples.end()), 0.1f);
}

INSTANTIATE_TEST_SUITE_P(Cases, RenderFormat,
                         ::testing::Values(FormatCase{"Wav16ToFlac",
                                                      SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                                      "out.flac",
                                                      {},
                                                      SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                                           FormatCase{"Wav16ToAiff",
                                                      SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                                      "out.aiff",
                                                      {},
                                                      SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
                                           FormatCase{"Wav16ToOgg",
                                                      SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                                      "out.ogg",
                                                      {},
                                                      SF_FORMAT_OGG | SF_FORMAT_VORBIS},
                                           FormatCase{"Wav16ToFloatWav",
                                                      SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                                      "out.wav",
                                                      {"--float"},
                                                      SF_FORMAT_WAV | SF_FORMAT_FLOAT},
                                           FormatCase{"WavFloatToFlac",
                                                      SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                                      "out.flac",
                                                      {},
                                                      SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
                                           FormatCase{"WavFloatToUpperCaseAif",
                                                      SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                                      "OUT.AIF",
                                                      {},
                                                      SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
                                           // 8-bit samples are unsigned in WAV and signed in FLAC.
                                           FormatCase{"WavUnsigned8ToFlac",
                                                      SF_FORMAT_WAV | SF_FORMAT_PCM_U8,
                                                      "out.flac",
                                                      {},
                                                      SF_FORMAT_FLAC | SF_FORMAT_PCM_S8},
                                           FormatCase{"Aiff24ToWav",
                                                      SF_FORMAT_AIFF | SF_FORMAT_PCM_24,
                                                      "out.wav",
                                                      {},
                                                      SF_FORMAT_WAV | SF_FORMAT_PCM_24},
                                           FormatCase{"Flac16ToWav",
                                                      SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
                                                      "out.wav",
                                                      {},
                                                      SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                                           FormatCase{"OggToWav",
                                                      SF_FORMAT_OGG | SF_FORMAT_VORBIS,
                                                      "out.wav",
                                                      {},
                                                      SF_FORMAT_WAV | SF_FORMAT_FLOAT}),
                         [](const ::testing::TestParamInfo<FormatCase>& info) {
                           return info.param.name;
                         });

// ---------------------------------------------------------------------------------------------
// The demo

TEST(RenderDemo, RendersFourBarsAtTheChosenTempoTheSameEveryTime) {
  ScratchFolder folder;
  const struct {
    std::vector<std::string> options;
    int64_t frames;
  } cases[] = {
      {{}, 4 * 4 * 22050},               // 120 BPM: half a second a beat
      {{"--bpm", "90"}, 4 * 4 * 29400},  // two thirds of a second a beat
      {{"--set", "tempo=1", "--tail", "1"}, 4 * 4 * 13230 + 44100},  // 200 BPM, and a tail
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"render", "-o", folder.path("demo.wav"), "-q"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ASSERT_EQ(runCommand(args).exitCode, 0);
    const std::string first = readFile(folder.path("demo.wav"));
    args[2] = folder.path("again.wav");
    ASSERT_EQ(runCommand(args).exitCode, 0);
    EXPECT_EQ(readFile(folder.path("again.wav")), first) << "the demo is deterministic";

    const Audio demo = readAudio(folder.path("demo.wav"));
    EXPECT_EQ(demo.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(demo.sampleRate, 44100);
    EXPECT_EQ(demo.channels, 2);
    EXPECT_EQ(demo.frames(), c.frames);
    float peak = 0.0f;
    for (float sample : demo.samples)
      peak = std::max(peak, std::fabs(sample));
    EXPECT_GT(peak, 0.2f);
    EXPECT_LE(peak, 1.0f) << "the demo stays below full scale at the default settings";
  }
}

TEST(RenderDemo, OutputDoesNotDependOnTheBlockSize) {
  ScratchFolder folder;
  std::string first;
  for (const char* block : {"512", "1", "7", "4096", "65536"}) {
    const CommandResult result =
        runCommand({"render", "-o", folder.path("demo.wav"), "-q", "--block", block, "--set",
                    "mod amt=0.7", "--set", "stereo=0.9", "--waveform", "sawtooth", "--tail", "1"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string bytes = readFile(folder.path("demo.wav"));
    if (first.empty()) first = bytes;
    EXPECT_TRUE(bytes == first) << "--block " << block;
  }
}

TEST(RenderDemo, SweepsOnceABarUnlessTheResolutionIsChosen) {
  ScratchFolder folder;
  const struct {
    std::vector<std::string> options;
    const char* resolutionRow;
  } cases[] = {
      {{}, "1 +Resolution +0\\.269231 +4 +note\\(s\\)"},
      {{"--notes", "16"}, "1 +Resolution +0\\.653846 +16 +note\\(s\\)"},
      {{"--set", "resolution=0.9"}, "1 +Resolution +0\\.900000 +64 +note\\(s\\)"},
      {{"--program", "0"}, "1 +Resolution +0\\.846200 +64 +note\\(s\\)"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"render", "-o", folder.path("demo.wav")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const CommandResult result = runCommand(args);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(hasLine(result.out, c.resolutionRow)) << result.out;
  }
}

// The render streams: its memory use does not grow with the length of the audio.
TEST(RenderStreaming, MemoryUseDoesNotGrowWithTheLength) {
  ScratchFolder folder;
  long peakKb[2] = {};
  const char* tails[2] = {"1", "120"};  // 120 s of stereo float is 42 MB
  for (int i = 0; i < 2; ++i) {
    const CommandResult result =
        runCommand({"render", "-o", folder.path("out.wav"), "-q", "--tail", tails[i]});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    peakKb[i] = result.maxResidentKb;
  }
  EXPECT_LT(peakKb[1] - peakKb[0], 4096) << peakKb[0] << " kB, then " << peakKb[1] << " kB";
}

// ---------------------------------------------------------------------------------------------
// What the command prints

TEST(RenderOutput, PrintsTheParameterTableAndASummaryUnlessQuiet) {
  ScratchFolder folder;
  Audio input;
  input.samples = testSignal(44100, 2, 0.3f);
  writeAudio(folder.path("in.wav"), input);

  const CommandResult loud =
      runCommand({"render", folder.path("in.wav"), "-o", folder.path("out.wav"), "--bpm", "97",
                  "--notes", "7", "--waveform", "SawTooth", "--set", " MOD AMT = 0.5"});
  ASSERT_EQ(loud.exitCode, 0) << loud.err;
  EXPECT_EQ(loud.err, "") << "no progress bar when stderr is not a terminal";
  EXPECT_TRUE(hasLine(loud.out, "input +.*/in\\.wav \\(WAV 32-bit float, 44100 Hz, stereo\\)"));
  EXPECT_TRUE(hasLine(loud.out, "program +0 \\(--- Default ---\\)"));
  EXPECT_TRUE(hasLine(loud.out, "index +name +value +display +label"));
  EXPECT_TRUE(hasLine(loud.out, "0 +Tempo +0\\.264286 +97 +BPM")) << loud.out;
  EXPECT_TRUE(hasLine(loud.out, "1 +Resolution +0\\.500000 +7 +note\\(s\\)")) << loud.out;
  EXPECT_TRUE(hasLine(loud.out, "4 +Mod Amt +0\\.500000 +50 +%")) << loud.out;
  EXPECT_TRUE(hasLine(loud.out, "5 +Waveform +1\\.000000 +sawtooth +---")) << loud.out;
  EXPECT_TRUE(hasLine(loud.out, "7 +12 dB Boost +0\\.250000 +0\\.000000 +dB")) << loud.out;
  EXPECT_TRUE(hasLine(loud.out,
                      "rendered +44100 frames, 1\\.00 s of audio in [0-9.]+ s \\([0-9.]+x real "
                      "time\\)"))
      << loud.out;
  EXPECT_TRUE(hasLine(loud.out, "output +/.*/out\\.wav \\(WAV 32-bit float, 44100 Hz, stereo\\)"))
      << loud.out;

  const CommandResult quiet =
      runCommand({"render", folder.path("in.wav"), "-o", folder.path("out.wav"), "--quiet"});
  ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "");
}

TEST(RenderOutput, ParameterNamesIgnoreCaseAndSpacesAndIndicesWorkToo) {
  ScratchFolder folder;
  for (const char* set : {"mod amt=0.5", "  MOD AMT  =0.5", "Mod Amt= 0.5 ", "4=0.5", " 4 =0.5"}) {
    const CommandResult result = runCommand({"render", "-o", folder.path("out.wav"), "--set", set});
    ASSERT_EQ(result.exitCode, 0) << set << ": " << result.err;
    EXPECT_TRUE(hasLine(result.out, "4 +Mod Amt +0\\.500000 +50 +%")) << set;
  }
}

TEST(Info, ShowsIdentityParametersAndPrograms) {
  const CommandResult result = runCommand({"info"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  const std::string& out = result.out;
  for (const char* line : {
           "module +/.*/TempoFlanger\\.so",
           "entry +VSTPluginMain",
           "unique ID +'Ph62' \\(0x50683632\\)",
           "version +1",
           "inputs +2",
           "outputs +2",
           "flags +24 \\(can mono, can replacing\\)",
           "programs +16",
           "parameters +8",
           "index +name +value +display +label",
           "0 +Tempo +0\\.428572 +120 +BPM",
           "1 +Resolution +0\\.846200 +64 +note\\(s\\)",
           "2 +Send +1\\.000000 +100 +%",
           "3 +Depth +0\\.250000 +25 +%",
           "4 +Mod Amt +0\\.250000 +25 +%",
           "5 +Waveform +0\\.000000 +sinus +---",
           "6 +Stereo +0\\.100000 +10 +% of Pan",
           "7 +12 dB Boost +0\\.250000 +0\\.000000 +dB",
           "program +name",
           "0 +--- Default ---",
           "1 +Init 1",
           "15 +Init 15",
       }) {
    EXPECT_TRUE(hasLine(out, line)) << line << "\n" << out;
  }
  EXPECT_EQ(lines(out).size(), 9u + 1 + 9 + 1 + 17);

  const CommandResult named = runCommand({"info", "--plugin", TF_MODULE_PATH});
  EXPECT_EQ(named.exitCode, 0);
  EXPECT_EQ(named.out, out);
}

}  // namespace
}  // namespace tftest
