// The command's failures: each ends with one line naming the problem and a non-zero exit, and
// leaves the output folder as it was: no new file, no temporary file, an existing output intact.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/renderer/support.h"

namespace tftest {
namespace {

namespace fs = std::filesystem;

struct ErrorCase {
  const char* name;
  // Makes what the case needs in the folder and returns the command's arguments.
  std::function<std::vector<std::string>(const ScratchFolder&)> prepare;
  std::string message;  // part of the error line
  int exitCode = 1;     // 2 for a command line that does not parse
  std::optional<rlim_t> fileSizeLimit = std::nullopt;
  bool interrupt = false;  // send SIGINT while the output is being written
};

const char kPrevious[] = "an earlier render, to be kept";

// render with the demo as input, into out.wav, plus `options`.
std::function<std::vector<std::string>(const ScratchFolder&)> demo(
    std::vector<std::string> options) {
  return [options](const ScratchFolder& folder) {
    std::vector<std::string> args{"render", "-o", folder.path("out.wav")};
    args.insert(args.end(), options.begin(), options.end());
    return args;
  };
}

std::function<std::vector<std::string>(const ScratchFolder&)> withPlugin(std::string command,
                                                                         std::string module) {
  return [command, module](const ScratchFolder& folder) {
    std::vector<std::string> args{command, "--plugin", module};
    if (command == "render") args.insert(args.end(), {"-o", folder.path("out.wav")});
    return args;
  };
}

void PrintTo(const ErrorCase& c, std::ostream* out) { *out << c.name; }

class RenderError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(RenderError, FailsWithOneLineAndLeavesTheOutputAlone) {
  const ErrorCase& c = GetParam();
  ScratchFolder folder;
  writeFile(folder.path("out.wav"), kPrevious);
  const std::vector<std::string> args = c.prepare(folder);
  const std::vector<std::string> before = folder.entries();

  CommandConditions conditions;
  conditions.fileSizeLimit = c.fileSizeLimit;
  if (c.interrupt) {
    // Ctrl-C once the render is under way: its temporary file exists.
    conditions.interruptWhen = [&folder, &before] { return folder.entries() != before; };
  }
  const CommandResult result = runCommand(args, conditions);

  EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
  const std::vector<std::string> errorLines = lines(result.err);
  ASSERT_EQ(errorLines.size(), 1u) << result.err;
  EXPECT_EQ(errorLines[0].rfind("tempoflanger: error: ", 0), 0u) << result.err;
  EXPECT_NE(errorLines[0].find(c.message), std::string::npos)
      << "expected: " << c.message << "\n     got: " << errorLines[0];
  EXPECT_EQ(folder.entries(), before);
  if (fs::is_regular_file(folder.path("out.wav"))) {
    EXPECT_EQ(readFile(folder.path("out.wav")), kPrevious);
  }
}

std::vector<ErrorCase> errorCases() {
  const auto input = [](const char* name, std::function<void(const std::string&)> make,
                        std::vector<std::string> options = {}) {
    return [name, make, options](const ScratchFolder& folder) {
      make(folder.path(name));
      std::vector<std::string> args{"render", folder.path(name), "-o", folder.path("out.wav")};
      args.insert(args.end(), options.begin(), options.end());
      return args;
    };
  };
  const auto stereoWav = [](const std::string& path) {
    Audio audio;
    audio.samples = testSignal(1000, 2, 0.3f);
    writeAudio(path, audio);
  };

  return {
      // Input
      {"MissingInput", input("missing.wav", [](const std::string&) {}),
       "/missing.wav' does not exist"},
      {"InputNotAudio",
       input("notes.wav", [](const std::string& path) { writeFile(path, "not audio\n"); }),
       "/notes.wav' is not in an audio format tempoflanger reads"},
      {"InputIsAFolder",
       input("folder.wav", [](const std::string& path) { fs::create_directory(path); }),
       "/folder.wav' is a folder"},
      {"ThreeChannels",
       input("three.wav",
             [](const std::string& path) {
               Audio audio;
               audio.channels = 3;
               audio.samples = testSignal(1000, 3, 0.3f);
               writeAudio(path, audio);
             }),
       "/three.wav' has 3 channels; tempoflanger takes mono or stereo files"},
      // Output
      {"UnsupportedOutputType",
       [](const ScratchFolder& folder) {
         return std::vector<std::string>{"render", "-o", folder.path("out.mp3")};
       },
       "/out.mp3' has an unsupported file type '.mp3'; tempoflanger writes .wav, .aiff, .aif, "
       ".flac and .ogg"},
      {"FloatFlac",
       [](const ScratchFolder& folder) {
         return std::vector<std::string>{"render", "-o", folder.path("out.flac"), "--float"};
       },
       "FLAC holds integer samples only"},
      {"OutputFolderMissing",
       [](const ScratchFolder& folder) {
         return std::vector<std::string>{"render", "-o", folder.path("no/such/out.wav")};
       },
       "cannot write output '"},
      {"OutputIsAFolder",
       [](const ScratchFolder& folder) {
         fs::create_directory(folder.path("taken.wav"));
         return std::vector<std::string>{"render", "-o", folder.path("taken.wav")};
       },
       "/taken.wav': it is a folder"},
      // The disk fills up halfway: the render fails while writing.
      {"DiskFullMidRender", demo({}), "/out.wav': ", 1, rlim_t{100000}},
      {"DiskFullMidRenderOfAFile", input("in.wav", stereoWav, {"--tail", "10"}), "/out.wav': ", 1,
       rlim_t{200000}},
      // Ctrl-C halfway: a long render, stopped as soon as its temporary file appears.
      {"Interrupted", demo({"--tail", "300", "--quiet"}), "interrupted; no output written", 1,
       std::nullopt, true},
      // Parameters
      {"UnknownParameter", demo({"--set", "wobble=0.5"}),
       "unknown parameter 'wobble'; valid names: Tempo, Resolution, Send, Depth, Mod Amt, "
       "Waveform, Stereo, 12 dB Boost (or an index 0 to 7)"},
      {"IndexPastTheLast", demo({"--set", "8=0.5"}), "unknown parameter '8'"},
      {"ValueAboveOne", demo({"--set", "send=1.5"}), "value 1.5 is out of range 0.0 to 1.0"},
      {"ValueBelowZero", demo({"--set", "send=-0.01"}), "value -0.01 is out of range 0.0 to 1.0"},
      {"ValueNotANumber", demo({"--set", "send=loud"}), "'loud' is not a number"},
      {"ValueNaN", demo({"--set", "send=nan"}), "'nan' is not a number"},
      {"ValueMissing", demo({"--set", "send"}), "--set 'send': expected NAME=VALUE"},
      {"SetTwice", demo({"--set", "tempo=0.5", "--bpm", "100"}),
       "Tempo is set twice (--set 'tempo=0.5' and --bpm 100)"},
      {"BpmBelowRange", demo({"--bpm", "59"}), "--bpm 59 is out of range 60 to 200"},
      {"BpmAboveRange", demo({"--bpm", "201"}), "--bpm 201 is out of range 60 to 200"},
      {"BpmNotWhole", demo({"--bpm", "120.5"}), "--bpm", 2},
      {"NotesNotABand", demo({"--notes", "9"}),
       "--notes 9 is not one of 1 2 3 4 5 6 7 8 16 32 48 64 96"},
      {"UnknownWaveform", demo({"--waveform", "square"}),
       "--waveform 'square' is not one of sine, triangle, sawtooth"},
      {"ProgramAboveRange", demo({"--program", "16"}), "--program 16 is out of range 0 to 15"},
      {"ProgramNegative", demo({"--program", "-1"}), "--program -1 is out of range"},
      {"BlockZero", demo({"--block", "0"}), "--block 0 is out of range 1 to 65536"},
      {"BlockTooLarge", demo({"--block", "65537"}), "--block 65537 is out of range 1 to 65536"},
      {"TailNegative", demo({"--tail", "-1"}), "--tail is out of range 0 to 3600 seconds"},
      // Modules
      {"ModuleMissing",
       [](const ScratchFolder& folder) {
         return std::vector<std::string>{"render", "-o", folder.path("out.wav"), "--plugin",
                                         folder.path("none.so")};
       },
       "cannot load module '"},
      {"ModuleNotAModule",
       [](const ScratchFolder& folder) {
         writeFile(folder.path("fake.so"), "not a module\n");
         return std::vector<std::string>{"render", "-o", folder.path("out.wav"), "--plugin",
                                         folder.path("fake.so")};
       },
       "cannot load module '"},
      {"ModuleWithoutEntryPoint", withPlugin("render", TF_FIXTURE_NO_ENTRY),
       "exports neither VSTPluginMain nor main"},
      {"ModuleAnsweringNull", withPlugin("render", TF_FIXTURE_NULL),
       "VSTPluginMain returned a null effect record"},
      {"ModuleWithOneInput", withPlugin("render", TF_FIXTURE_MONO),
       "has 1 input and 2 outputs; tempoflanger needs an effect with 2 inputs and 2 outputs"},
      {"InfoOfModuleWithoutEntryPoint", withPlugin("info", TF_FIXTURE_NO_ENTRY),
       "exports neither VSTPluginMain nor main"},
      {"InfoOfModuleAnsweringNull", withPlugin("info", TF_FIXTURE_NULL),
       "returned a null effect record"},
      // The command line itself
      {"NoOutputOption", [](const ScratchFolder&) { return std::vector<std::string>{"render"}; },
       "--output is required", 2},
      {"NoCommand", [](const ScratchFolder&) { return std::vector<std::string>{}; },
       "A subcommand is required", 2},
  };
}

INSTANTIATE_TEST_SUITE_P(Cases, RenderError, ::testing::ValuesIn(errorCases()),
                         [](const ::testing::TestParamInfo<ErrorCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace tftest
