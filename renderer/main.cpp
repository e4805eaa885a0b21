// tempoflanger: runs audio files through the TempoFlanger plug-in from a shell, loading the module
// exactly as a host does.
//
//   tempoflanger render [INPUT] -o OUTPUT [options]
//   tempoflanger info [--plugin PATH]
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <string>

#include "host/host.h"
#include "renderer/commands.h"
#include "renderer/errors.h"

namespace {

// Every error is one line on stderr.
void reportError(const std::string& message, const char* advice = "") {
  std::string line = message;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::cout.flush();
  std::cerr << "tempoflanger: error: " << line << advice << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Runs audio through the TempoFlanger plug-in as a host does.", "tempoflanger"};
  app.require_subcommand(1);

  tfrender::RenderOptions render;
  int program = 0;
  int bpm = 0;
  int notes = 0;
  std::string waveform;
  CLI::App* renderCommand =
      app.add_subcommand("render", "Run an audio file, or the built-in demo, through the plug-in");
  renderCommand->footer(
      "INPUT may be WAV, AIFF, FLAC or Ogg, mono or stereo; OUTPUT's extension (.wav .aiff .aif "
      ".flac .ogg) sets its file type, and it keeps INPUT's sample rate and, where the type "
      "allows, "
      "its sample format. Without INPUT, renders a built-in demo: 4 bars of hats over a chord at "
      "the chosen tempo, 44100 Hz, float, with a one-bar sweep unless --notes, --program or --set "
      "chooses the Resolution.\n\n"
      "Examples:\n"
      "  tempoflanger render -o demo.wav\n"
      "  tempoflanger render drums.wav -o drums-flanged.wav --bpm 128 --notes 8\n"
      "  tempoflanger render pad.flac -o pad-flanged.flac --waveform triangle --set \"mod "
      "amt=0.6\" "
      "--tail 2");
  renderCommand->add_option("INPUT", render.input, "Audio file to process; none: the demo")
      ->type_name("");
  renderCommand->add_option("-o,--output", render.output, "File to write")
      ->type_name("OUTPUT")
      ->required();
  renderCommand
      ->add_option("--plugin", render.plugin,
                   "Module to load (default: the TempoFlanger.so installed with this "
                   "command); any effect with 2 inputs and 2 outputs")
      ->type_name("PATH");
  CLI::Option* programOption =
      renderCommand
          ->add_option("--program", program,
                       "Select program 0 to 15 first; individual settings apply on top")
          ->type_name("N");
  renderCommand
      ->add_option("--set", render.parameters.sets,
                   "Set a parameter to a value from 0.0 to 1.0: NAME=VALUE, where NAME is a "
                   "parameter's name (any case: \"mod amt=0.5\") or its index (\"4=0.5\"). "
                   "Repeatable. Settings apply in parameter order, as a host restores them.")
      ->type_name("NAME=VALUE")
      ->allow_extra_args(false);
  CLI::Option* bpmOption =
      renderCommand->add_option("--bpm", bpm, "Tempo in whole BPM, 60 to 200")->type_name("BPM");
  CLI::Option* notesOption =
      renderCommand
          ->add_option("--notes", notes,
                       "Sweep cycle in notes (beats): 1 2 3 4 5 6 7 8 16 32 48 64 96")
          ->type_name("N");
  CLI::Option* waveformOption =
      renderCommand->add_option("--waveform", waveform, "Sweep shape: sine, triangle, sawtooth")
          ->type_name("SHAPE");
  renderCommand
      ->add_option("--block", render.blockFrames,
                   "Frames per processReplacing call, 1 to 65536 (default 512)")
      ->type_name("N");
  renderCommand
      ->add_option("--tail", render.tailSeconds,
                   "Seconds of silence to run through the effect after the input, so "
                   "that the delayed sound rings out")
      ->type_name("SECONDS");
  renderCommand->add_flag("--float", render.forceFloat,
                          "Write 32-bit float samples (WAV or AIFF) instead of the input's format");
  renderCommand->add_flag("-q,--quiet", render.quiet,
                          "Print nothing but errors: no table, progress bar or summary");

  std::string infoPlugin;
  CLI::App* infoCommand =
      app.add_subcommand("info", "Show the module's identity, its parameters and its programs");
  infoCommand
      ->add_option("--plugin", infoPlugin,
                   "Module to load (default: the TempoFlanger.so installed with this command)")
      ->type_name("PATH");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(error);
    reportError(error.what(), " (see tempoflanger --help)");
    return 2;
  }

  try {
    if (*renderCommand) {
      if (*programOption) render.parameters.program = program;
      if (*bpmOption) render.parameters.bpm = bpm;
      if (*notesOption) render.parameters.notes = notes;
      if (*waveformOption) render.parameters.waveform = tfrender::parseWaveform(waveform);
      tfrender::runRender(render);
    } else if (*infoCommand) {
      tfrender::runInfo(infoPlugin);
    }
  } catch (const std::exception& error) {
    reportError(error.what());
    return 1;
  }
  return 0;
}
