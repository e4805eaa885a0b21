// The effect record as a host first reads it, the four-character codes, the five entry functions
// and the end of an effect through effClose.
#include "frame/effect_record.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <set>

#include "tests/frame/probe_effect.h"

namespace {

TEST(FourCharCode, PacksTheFirstCharacterIntoTheTopByte) {
  static_assert(fourCharCode('N', 'v', 'E', 'f') == 0x4E764566);
  EXPECT_EQ(fourCharCode('N', 'v', 'E', 'f'), 0x4E764566);
  EXPECT_EQ(kIdentifyAnswer, 0x4E764566);
  EXPECT_EQ(kEffectMagic, 0x56737450);
  EXPECT_EQ(kNoEffectId, 0x4E6F4566);
  // Characters above 0x7F must not spread their sign into the other bytes.
  EXPECT_EQ(fourCharCode('\xFF', 'A', '\x80', 'B'), static_cast<int32_t>(0xFF418042u));
}

TEST(EffectRecord, AfterConstruction) {
  Harness<> h;
  const AEffect& r = *h.record;
  EXPECT_EQ(r.magic, 0x56737450);
  const std::set<const void*> entries = {
      reinterpret_cast<const void*>(r.dispatcher), reinterpret_cast<const void*>(r.process),
      reinterpret_cast<const void*>(r.setParameter), reinterpret_cast<const void*>(r.getParameter),
      reinterpret_cast<const void*>(r.processReplacing)};
  EXPECT_EQ(entries.size(), 5u) << "the five entry functions are distinct";
  EXPECT_EQ(entries.count(nullptr), 0u);
  EXPECT_EQ(r.numPrograms, ProbeEffect::kPrograms);
  EXPECT_EQ(r.numParams, ProbeEffect::kParams);
  EXPECT_EQ(r.numInputs, 1);
  EXPECT_EQ(r.numOutputs, 2);
  EXPECT_EQ(r.flags, 0);
  EXPECT_EQ(r.resvd1, 0);
  EXPECT_EQ(r.resvd2, 0);
  EXPECT_EQ(r.initialDelay, 0);
  EXPECT_EQ(r.realQualities, 0);
  EXPECT_EQ(r.offQualities, 0);
  EXPECT_EQ(r.ioRatio, 1.0f);
  EXPECT_EQ(r.object, static_cast<void*>(static_cast<EffectBase*>(h.effect)));
  EXPECT_EQ(r.user, nullptr);
  EXPECT_EQ(r.uniqueID, 0x4E6F4566);
  EXPECT_EQ(r.version, 1);
  for (std::size_t i = 0; i < sizeof(r.future); ++i) {
    EXPECT_EQ(r.future[i], 0) << "future byte " << i;
  }
  EXPECT_EQ(h.effect->getEffectRecord(), h.record);
  EXPECT_TRUE(h.events.empty()) << "construction calls no operation and no host";
}

TEST(EffectRecord, ParameterEntriesForwardToTheObject) {
  Harness<> h;
  h.record->setParameter(h.record, 2, 0.75f);
  EXPECT_EQ(h.record->getParameter(h.record, 1), 0.75f);
  EXPECT_EQ(h.events, (EventLog{"setParameter 2 0.750000", "getParameter 1"}));
}

TEST(EffectRecord, AudioEntriesForwardTheHostsBuffers) {
  Harness<> h;
  float left[4] = {}, right[4] = {};
  float* inputs[2] = {left, right};
  float* outputs[2] = {right, left};
  h.record->process(h.record, inputs, outputs, 4);
  EXPECT_EQ(h.effect->lastInputs, inputs);
  EXPECT_EQ(h.effect->lastOutputs, outputs);
  h.record->processReplacing(h.record, outputs, inputs, 3);
  EXPECT_EQ(h.effect->lastInputs, outputs);
  EXPECT_EQ(h.effect->lastOutputs, inputs);
  EXPECT_EQ(h.events, (EventLog{"process 4", "processReplacing 3"}));
}

TEST(EffectRecord, CloseRunsCloseThenDestroysTheObjectAndAnswersOne) {
  Harness<> h;
  EXPECT_EQ(h.close(), 1);
  EXPECT_EQ(h.events, (EventLog{"close", "destroyed"}));
}

TEST(EffectRecord, DefaultProcessReplacingLeavesTheOutputsAlone) {
  Harness<BareEffect> h;
  float in[2] = {1.0f, 2.0f}, out[2] = {3.0f, 4.0f};
  float* inputs[2] = {in, in};
  float* outputs[2] = {out, out};
  h.record->processReplacing(h.record, inputs, outputs, 2);
  EXPECT_EQ(out[0], 3.0f);
  EXPECT_EQ(out[1], 4.0f);
  EXPECT_TRUE(h.events.empty());
}

}  // namespace
