// The musical units of the command line, checked against the plug-in's own displays through the
// host layer: every whole BPM, every Resolution band, every waveform.
#include "renderer/parameters.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/host.h"

namespace tfrender {
namespace {

class MusicalUnits : public ::testing::Test {
 protected:
  void SetUp() override {
    effect = module.instantiate();
    effect->open();
  }
  tfhost::Module module{TF_MODULE_PATH};
  std::unique_ptr<tfhost::Effect> effect;
};

TEST_F(MusicalUnits, EveryWholeBpmDisplaysItself) {
  for (int bpm = kMinBpm; bpm <= kMaxBpm; ++bpm) {
    const float value = tempoValue(bpm);
    EXPECT_EQ(value, static_cast<float>(bpm - 60) / 140.0f);
    effect->setParameter(0, value);
    EXPECT_EQ(effect->paramDisplay(0), std::to_string(bpm)) << "value " << value;
  }
}

TEST_F(MusicalUnits, EveryNoteChoiceLandsInsideItsResolutionBand) {
  const double q = static_cast<double>(1.0f / 13.0f);  // the plug-in's band width
  for (std::size_t band = 0; band < kNoteChoices.size(); ++band) {
    const int notes = kNoteChoices[band];
    const float value = resolutionValue(notes);
    // Clear of both bounds by far more than a float's rounding.
    EXPECT_GT(static_cast<double>(value), band * q + 0.03);
    EXPECT_LT(static_cast<double>(value), (band + 1) * q - 0.03);
    effect->setParameter(1, value);
    EXPECT_EQ(effect->paramDisplay(1), std::to_string(notes));
  }
}

TEST_F(MusicalUnits, EveryWaveformDisplaysItsName) {
  const struct {
    const char* typed;
    const char* display;
  } cases[] = {{"sine", "sinus"}, {"Triangle", "triangle"}, {" SAWTOOTH ", "sawtooth"}};
  for (const auto& c : cases) {
    effect->setParameter(5, waveformValue(parseWaveform(c.typed)));
    EXPECT_EQ(effect->paramDisplay(5), c.display) << c.typed;
  }
}

}  // namespace
}  // namespace tfrender
