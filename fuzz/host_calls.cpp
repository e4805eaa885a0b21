#include "fuzz/host_calls.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "flanger/tempo_flanger.h"

namespace tffuzz {
namespace {

using Limits = std::numeric_limits<float>;

// Frames processed per sequence at most, so that one input never takes long; further audio calls
// are cut to what is left.
constexpr int64_t kFrameBudget = 1 << 16;
constexpr int32_t kMaxFrames = 4096;
constexpr std::size_t kTextLimit = 24;  // bytes a text may take, terminator included
constexpr std::size_t kTextGuard = 64;  // watched bytes after the limit
constexpr std::size_t kScratchSize = 256;
constexpr char kCanary = static_cast<char>(0xA5);
constexpr std::size_t kMaxNameLength = 1000;

// Parameter values a host may send: every class of float, and the values where the parameter
// mappings change behaviour.
constexpr float kSpecialValues[] = {Limits::quiet_NaN(),
                                    -Limits::quiet_NaN(),
                                    Limits::signaling_NaN(),
                                    Limits::infinity(),
                                    -Limits::infinity(),
                                    Limits::denorm_min(),
                                    -Limits::denorm_min(),
                                    Limits::min(),
                                    Limits::max(),
                                    Limits::lowest(),
                                    1.0e38f,
                                    -1.0e38f,
                                    0.0f,
                                    -0.0f,
                                    1.0f,
                                    1.0000001f,
                                    0.99999994f,
                                    -1.0f,
                                    2.0f,
                                    100.0f,
                                    1.0e9f,
                                    -1.0e9f,
                                    1.0e-30f,
                                    -1.0e-30f,
                                    2147483648.0f,
                                    4294967296.0f,
                                    9.2233720e18f,
                                    -2147483904.0f,
                                    0.01f,
                                    0.0100001f,
                                    0.02f,
                                    0.005f,
                                    -0.5f};

// Values within 0 to 1 that sit on or beside a band bound or a special case of the mappings.
constexpr float kInRangeValues[] = {0.0f,        1.0f,        0.5f,        0.25f,       0.1f,
                                    0.01f,       0.0100001f,  0.02f,       0.0099999f,  1.0e-30f,
                                    1.0e-45f,    0.33333334f, 0.33333337f, 0.6666667f,  0.66666675f,
                                    0.07692308f, 0.0769231f,  0.9230769f,  0.92307699f, 0.428572f,
                                    0.8462f,     0.99999994f};

constexpr float kSampleRates[] = {44100.0f,
                                  48000.0f,
                                  8000.0f,
                                  7999.9995f,
                                  768000.0f,
                                  768000.06f,
                                  96000.0f,
                                  22050.0f,
                                  11025.0f,
                                  192000.0f,
                                  0.0f,
                                  -0.0f,
                                  -44100.0f,
                                  1.0e9f,
                                  1.0f,
                                  Limits::quiet_NaN(),
                                  Limits::infinity(),
                                  -Limits::infinity(),
                                  Limits::denorm_min()};

constexpr int32_t kSpecialOpcodes[] = {INT32_MIN, INT32_MAX, -1,  -2,   0x7FFF, 0x8000,
                                       0x10000,   255,       256, 1000, 65535};

constexpr int32_t kSpecialFrames[] = {0, 1, 2, 99, 100, 101, 199, 200, 256, 1024, 4095, 4096};

bool isTextRead(int32_t opcode) {
  return opcode == effGetProgramName || opcode == effGetParamLabel ||
         opcode == effGetParamDisplay || opcode == effGetParamName;
}

uint32_t bitsOf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float floatOf(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::string describe(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g /*0x%08" PRIx32 "*/", static_cast<double>(value),
                bitsOf(value));
  return text;
}

// Reads the input as a stream of bytes; past its end every byte is 0.
class Reader {
 public:
  Reader(const uint8_t* data, std::size_t size) : next_(data), end_(data + size) {}
  bool done() const { return next_ == end_; }
  uint8_t byte() { return next_ == end_ ? 0 : *next_++; }
  uint32_t word() {
    uint32_t w = 0;
    for (int i = 0; i < 4; ++i)
      w |= static_cast<uint32_t>(byte()) << (8 * i);
    return w;
  }
  uint16_t half() { return static_cast<uint16_t>(byte() | (byte() << 8)); }

 private:
  const uint8_t* next_;
  const uint8_t* end_;
};

template <class T, std::size_t N>
T pick(const T (&table)[N], uint8_t selector) {
  return table[selector % N];
}

float anyFloat(Reader& in) {
  switch (in.byte() % 4) {
    case 0:
      return static_cast<float>(in.half()) / 65535.0f;
    case 1:
      return pick(kInRangeValues, in.byte());
    case 2:
      return pick(kSpecialValues, in.byte());
    default:
      return floatOf(in.word());
  }
}

// Mostly the real parameter indexes and their neighbours, sometimes any 32-bit number.
int32_t anyIndex(Reader& in) {
  const uint8_t b = in.byte();
  if (b < 224) return static_cast<int32_t>(b % 12) - 2;
  if (b < 240) return b % 2 == 0 ? INT32_MIN : INT32_MAX;
  return static_cast<int32_t>(in.word());
}

VstIntPtr anyValue(Reader& in) {
  const uint8_t b = in.byte();
  if (b < 192) return static_cast<VstIntPtr>(b % 20) - 2;
  switch (b % 6) {
    case 0:
      return INT32_MIN;
    case 1:
      return INT32_MAX;
    case 2:
      return std::numeric_limits<VstIntPtr>::min();
    case 3:
      return std::numeric_limits<VstIntPtr>::max();
    case 4:
      return static_cast<int32_t>(in.word());
    default: {
      const uint64_t wide = static_cast<uint64_t>(in.word()) << 32 | in.word();
      return static_cast<VstIntPtr>(wide);
    }
  }
}

int32_t anyOpcode(Reader& in) {
  const uint8_t b = in.byte();
  if (b < 200) return static_cast<int32_t>(b % 40) - 4;
  if (b < 232) return pick(kSpecialOpcodes, b);
  return static_cast<int32_t>(in.word());
}

int32_t anyFrames(Reader& in) {
  const uint8_t b = in.byte();
  if (b < 128) return b;
  if (b < 192) return in.half() % (kMaxFrames + 1);
  if (b < 240) return pick(kSpecialFrames, b);
  switch (b % 4) {
    case 0:
      return -1;
    case 1:
      return -kMaxFrames;
    case 2:
      return INT32_MIN;
    default:
      return static_cast<int32_t>(in.word() | 0x80000000u);
  }
}

float anyRate(Reader& in) {
  const uint8_t b = in.byte();
  if (b < 224) return pick(kSampleRates, b);
  return floatOf(in.word());
}

uint32_t nextNoise(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state;
}

// Samples within -1 to 1 from the top bits of the generator.
float noiseSample(uint32_t& state) {
  return static_cast<float>(static_cast<int32_t>(nextNoise(state)) >> 8) / 8388608.0f;
}

enum class Signal { kSilence, kNoise, kImpulse, kFullScale, kRamp, kHostile, kCount };

// How the channel buffers of an audio call lie. Hosts process in place, and some hand the same
// buffer for both outputs; the shifted layouts overlap inputs and outputs by one sample.
enum class Layout {
  kSeparate,
  kInPlace,
  kCrossed,
  kNullInputs,
  kNullOutputs,
  kNullChannel,
  kSameOutput,
  kShiftedForward,
  kShiftedBack,
  kCount
};

constexpr const char* kSignalNames[] = {"silence",    "noise", "impulse",
                                        "full scale", "ramp",  "non-finite and huge samples"};
constexpr const char* kLayoutNames[] = {"separate buffers",
                                        "in place",
                                        "crossed in place",
                                        "null inputs",
                                        "null outputs",
                                        "null right input",
                                        "one buffer for both outputs",
                                        "outputs one sample after the inputs",
                                        "outputs one sample before the inputs"};

// Two effect instances given the same calls, and what the checks need to know of their history.
// The shadow takes every audio call cut into pieces of 1 to 144 frames, with the same buffer
// layout: a block must give the same bits however a host cuts it.
class Session {
 public:
  explicit Session(std::string* trace) : trace_(trace), text_(new char[kTextLimit + kTextGuard]) {}
  ~Session() {
    if (record_) record_->dispatcher(record_, effClose, 0, 0, nullptr, 0.0f);
    if (shadow_) shadow_->dispatcher(shadow_, effClose, 0, 0, nullptr, 0.0f);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool open();
  bool close();
  bool step(Reader& in);
  const std::string& failure() const { return failure_; }

 private:
  static VstIntPtr TF_CALLCONV hostCallback(AEffect*, int32_t opcode, int32_t, VstIntPtr, void*,
                                            float) {
    return opcode == audioMasterVersion ? 2400 : 0;
  }

  bool fail(const std::string& what) {
    if (failure_.empty()) failure_ = what;
    return false;
  }
  void note(const std::string& line) {
    if (trace_) *trace_ += line + "\n";
  }
  // Sends a call to the effect, then the same call to the shadow. A buffer for the shadow is its
  // own, except a name to read.
  VstIntPtr dispatch(int32_t opcode, int32_t index, VstIntPtr value, void* ptr, float opt) {
    const VstIntPtr answer = record_->dispatcher(record_, opcode, index, value, ptr, opt);
    void* shadowPtr = nullptr;
    if (ptr) {
      std::fill(shadowScratch_.begin(), shadowScratch_.end(), kCanary);
      shadowPtr = opcode == effSetProgramName ? ptr : shadowScratch_.data();
    }
    shadow_->dispatcher(shadow_, opcode, index, value, shadowPtr, opt);
    return answer;
  }
  float getParameter(int32_t index) { return record_->getParameter(record_, index); }

  bool setParameter(int32_t index, float value);
  bool readText(int32_t opcode, int32_t index, std::string* text);
  bool readAllTexts();
  bool setProgram(VstIntPtr value);
  bool setProgramName(std::size_t length, uint8_t pattern);
  bool rawDispatch(int32_t opcode, int32_t index, VstIntPtr value, bool withPointer, float opt);
  bool audio(bool accumulate, Layout layout, int32_t frames, Signal signal);
  bool invariants(const char* after);

  std::string* trace_;
  AEffect* record_ = nullptr;
  AEffect* shadow_ = nullptr;
  std::vector<char> shadowScratch_ = std::vector<char>(kScratchSize + kMaxNameLength + 1);
  TempoFlanger* flanger_ = nullptr;
  // Set once a parameter got a finite value outside 0 to 1 or an input sample left -1 to 1: from
  // then on infinite output is the host's own doing.
  bool tainted_ = false;
  int64_t framesLeft_ = kFrameBudget;
  uint32_t noise_ = 0x12345678u;
  std::unique_ptr<char[]> text_;
  std::string failure_;
};

bool Session::open() {
  record_ = createEffect(&Session::hostCallback);
  shadow_ = createEffect(&Session::hostCallback);
  if (!record_ || !shadow_) return fail("createEffect answered null to a host of version 2400");
  flanger_ = static_cast<TempoFlanger*>(static_cast<EffectBase*>(record_->object));
  tainted_ = false;
  note("open");
  return invariants("open");
}

bool Session::close() {
  note("dispatch(effClose)");
  AEffect* record = record_;
  AEffect* shadow = shadow_;
  record_ = nullptr;
  shadow_ = nullptr;
  flanger_ = nullptr;
  const VstIntPtr answer = record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f);
  shadow->dispatcher(shadow, effClose, 0, 0, nullptr, 0.0f);
  if (answer != 1) return fail("effClose answered " + std::to_string(answer) + " instead of 1");
  return true;
}

bool Session::invariants(const char* after) {
  const std::string where = std::string(" after ") + after;
  for (int32_t i = 0; i < kNumParams; ++i) {
    if (!std::isfinite(getParameter(i))) {
      return fail("parameter " + std::to_string(i) + " reads " + describe(getParameter(i)) + where);
    }
  }
  const VstIntPtr program = dispatch(effGetProgram, 0, 0, nullptr, 0.0f);
  if (program < 0 || program >= kNumPrograms) {
    return fail("current program is " + std::to_string(program) + where);
  }
  for (const DelayLine* line : {&flanger_->leftLine(), &flanger_->rightLine()}) {
    const int32_t size = line->getSize();
    if (line->getReadIndex() < 0 || line->getReadIndex() >= size || line->getWriteIndex() < 0 ||
        line->getWriteIndex() >= size || line->getDelay() < 0 || line->getDelay() > 199) {
      return fail("delay line out of bounds: read " + std::to_string(line->getReadIndex()) +
                  " write " + std::to_string(line->getWriteIndex()) + " delay " +
                  std::to_string(line->getDelay()) + where);
    }
  }
  const bool tablesInBounds =
      flanger_->sine().getReadIndex() <= flanger_->sine().getPeriod() &&
      flanger_->sine().getPeriod() <= flanger_->sine().getCapacity() &&
      flanger_->triangle().getReadIndex() <= flanger_->triangle().getPeriod() &&
      flanger_->triangle().getPeriod() <= flanger_->triangle().getCapacity() &&
      flanger_->sawtooth().getReadIndex() <= flanger_->sawtooth().getPeriod() &&
      flanger_->sawtooth().getPeriod() <= flanger_->sawtooth().getCapacity();
  if (!tablesInBounds)
    return fail("a sweep table's position is past its period or capacity" + where);
  return true;
}

bool Session::setParameter(int32_t index, float value) {
  note("setParameter(" + std::to_string(index) + ", " + describe(value) + ")");
  const bool valid = index >= 0 && index < kNumParams;
  const float before = valid ? getParameter(index) : 0.0f;
  record_->setParameter(record_, index, value);
  shadow_->setParameter(shadow_, index, value);
  const float after = getParameter(index);
  if (!valid) {
    if (bitsOf(after) != bitsOf(0.0f)) {
      return fail("getParameter(" + std::to_string(index) + ") of no parameter reads " +
                  describe(after));
    }
  } else if (std::isfinite(value)) {
    if (bitsOf(after) != bitsOf(value)) {
      return fail("parameter " + std::to_string(index) + " set to " + describe(value) +
                  " reads back " + describe(after));
    }
    if (!(value >= 0.0f && value <= 1.0f)) tainted_ = true;
  } else if (bitsOf(after) != bitsOf(before)) {
    return fail("parameter " + std::to_string(index) + " changed from " + describe(before) +
                " to " + describe(after) + " on a non-finite value");
  }
  return invariants("setParameter");
}

// Reads a text into a buffer watched past its 24 bytes. `text` receives it, or stays empty when
// the effect wrote nothing (which it may, for a text it has not).
bool Session::readText(int32_t opcode, int32_t index, std::string* text) {
  char* buffer = text_.get();
  std::memset(buffer, kCanary, kTextLimit + kTextGuard);
  dispatch(opcode, index, 0, buffer, 0.0f);
  const std::string what =
      "text opcode " + std::to_string(opcode) + " index " + std::to_string(index);
  for (std::size_t i = kTextLimit; i < kTextLimit + kTextGuard; ++i) {
    if (buffer[i] != kCanary)
      return fail(what + " wrote byte " + std::to_string(i) + " (limit 24)");
  }
  char* end = std::find(buffer, buffer + kTextLimit, '\0');
  if (end == buffer + kTextLimit) {
    if (std::any_of(buffer, buffer + kTextLimit, [](char c) { return c != kCanary; })) {
      return fail(what + " left no terminator within 24 bytes");
    }
    if (text) text->clear();
    return true;
  }
  for (char* p = end + 1; p < buffer + kTextLimit; ++p) {
    if (*p != kCanary) return fail(what + " wrote past its terminator");
  }
  if (text) text->assign(buffer, end);
  return true;
}

bool Session::readAllTexts() {
  note("read every text");
  for (int32_t index = -1; index <= kNumParams; ++index) {
    for (int32_t opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay}) {
      if (!readText(opcode, index, nullptr)) return false;
    }
  }
  return readText(effGetProgramName, 0, nullptr) && invariants("text reads");
}

bool Session::setProgram(VstIntPtr value) {
  note("dispatch(effSetProgram, value " + std::to_string(value) + ")");
  const VstIntPtr before = dispatch(effGetProgram, 0, 0, nullptr, 0.0f);
  dispatch(effSetProgram, 0, value, nullptr, 0.0f);
  const VstIntPtr after = dispatch(effGetProgram, 0, 0, nullptr, 0.0f);
  const VstIntPtr expected = value >= 0 && value < kNumPrograms ? value : before;
  if (after != expected) {
    return fail("effSetProgram " + std::to_string(value) + " from " + std::to_string(before) +
                " left program " + std::to_string(after));
  }
  return invariants("effSetProgram");
}

bool Session::setProgramName(std::size_t length, uint8_t pattern) {
  std::string name(length, 'x');
  for (std::size_t i = 0; i < length; ++i) {
    // Any byte but the terminator; pattern 0 gives letters.
    name[i] = pattern == 0 ? static_cast<char>('a' + i % 26)
                           : static_cast<char>(1 + (pattern * (i + 1)) % 255);
  }
  note("setProgramName(" + std::to_string(length) + " characters, pattern " +
       std::to_string(pattern) + ")");
  std::vector<char> sent(name.begin(), name.end());
  sent.push_back('\0');
  dispatch(effSetProgramName, 0, 0, sent.data(), 0.0f);

  std::string read;
  if (!readText(effGetProgramName, 0, &read)) return false;
  const VstIntPtr program = dispatch(effGetProgram, 0, 0, nullptr, 0.0f);
  std::string expected = name.substr(0, std::min<std::size_t>(length, kTextLimit - 1));
  if (program == 0) {
    expected = "--- Default ---";
  } else if (expected == "Init") {
    expected = "Init " + std::to_string(program);
  }
  if (read != expected) {
    return fail("program " + std::to_string(program) + " named with " + std::to_string(length) +
                " characters reads back \"" + read + "\"");
  }
  return invariants("effSetProgramName");
}

bool Session::rawDispatch(int32_t opcode, int32_t index, VstIntPtr value, bool withPointer,
                          float opt) {
  note("dispatch(opcode " + std::to_string(opcode) + ", index " + std::to_string(index) +
       ", value " + std::to_string(value) + (withPointer ? ", buffer, " : ", null, ") +
       describe(opt) + ")");
  if (opcode == effClose) return close() && open();
  if (withPointer && isTextRead(opcode)) {
    return readText(opcode, index, nullptr) && invariants("a text opcode");
  }
  std::vector<char> scratch(kScratchSize, kCanary);
  dispatch(opcode, index, value, withPointer ? scratch.data() : nullptr, opt);
  // Opcodes that may hand back a pointer through ptr; every other one leaves the buffer alone.
  const bool mayWrite = opcode == effGetChunk || opcode == effEditGetRect;
  if (withPointer && !mayWrite &&
      std::any_of(scratch.begin(), scratch.end(), [](char c) { return c != kCanary; })) {
    return fail("opcode " + std::to_string(opcode) + " wrote into the host's buffer");
  }
  return invariants("dispatch");
}

// Bitwise equality, with any NaN equal to any other (a NaN's payload may depend on the order of
// a commutative operation's operands).
bool sameSample(float a, float b) {
  return bitsOf(a) == bitsOf(b) || (std::isnan(a) && std::isnan(b));
}

bool Session::audio(bool accumulate, Layout layout, int32_t frames, Signal signal) {
  if (frames > 0) {
    frames = static_cast<int32_t>(std::min<int64_t>(frames, framesLeft_));
    framesLeft_ -= frames;
  }
  note(std::string(accumulate ? "process" : "processReplacing") + "(" + std::to_string(frames) +
       " frames, " + kLayoutNames[static_cast<int>(layout)] + ", " +
       kSignalNames[static_cast<int>(signal)] + ")");

  // Storage for the left and right input and output: exactly as long as the call may touch, so a
  // sanitizer sees one sample too many (one more for the shifted layouts).
  const bool shifted = layout == Layout::kShiftedForward || layout == Layout::kShiftedBack;
  const auto length = static_cast<std::size_t>(std::max(frames, 1) + (shifted ? 1 : 0));
  std::vector<float> storage[4];
  for (std::vector<float>& s : storage)
    s.resize(length);
  for (std::size_t i = 0; i < length; ++i) {
    for (int c = 0; c < 2; ++c) {
      float x = 0.0f;
      switch (signal) {
        case Signal::kSilence:
        case Signal::kCount:
          break;
        case Signal::kNoise:
          x = noiseSample(noise_);
          break;
        case Signal::kImpulse:
          x = i == 0 ? 1.0f : 0.0f;
          break;
        case Signal::kFullScale:
          x = i % 2 == 0 ? 1.0f : -1.0f;
          break;
        case Signal::kRamp:
          x = static_cast<float>(i % 64) / 32.0f - 1.0f;
          break;
        case Signal::kHostile: {
          const float hostile[] = {Limits::quiet_NaN(),  Limits::infinity(),
                                   -Limits::infinity(),  1.0e30f,
                                   Limits::denorm_min(), Limits::max()};
          x = pick(hostile, static_cast<uint8_t>(nextNoise(noise_) >> 24));
          break;
        }
      }
      storage[c][i] = x;
      // What a host's mix bus may already hold when process adds to it.
      storage[2 + c][i] = noiseSample(noise_);
    }
  }
  // Outputs written one sample ahead are the inputs of the frames after them: a feedback loop
  // with a gain of up to 8, which no input range keeps finite.
  if (signal == Signal::kHostile || layout == Layout::kShiftedForward) tainted_ = true;

  // The call's pointers as offsets into the storage (channel, start), so the shadow's copy can be
  // addressed the same way. -1 is a null pointer.
  struct Where {
    int channel;
    std::size_t start;
  };
  Where in[2] = {{0, 0}, {1, 0}};
  Where out[2] = {{2, 0}, {3, 0}};
  bool nullInputs = false;
  bool nullOutputs = false;
  switch (layout) {
    case Layout::kSeparate:
    case Layout::kCount:
      break;
    case Layout::kInPlace:
      out[0] = in[0];
      out[1] = in[1];
      break;
    case Layout::kCrossed:
      out[0] = in[1];
      out[1] = in[0];
      break;
    case Layout::kNullInputs:
      nullInputs = true;
      break;
    case Layout::kNullOutputs:
      nullOutputs = true;
      break;
    case Layout::kNullChannel:
      in[1].channel = -1;
      break;
    case Layout::kSameOutput:
      out[1] = out[0];
      break;
    case Layout::kShiftedForward:
      out[0] = {0, 1};
      out[1] = {1, 1};
      break;
    case Layout::kShiftedBack:
      in[0].start = 1;
      in[1].start = 1;
      out[0] = {0, 0};
      out[1] = {1, 0};
      break;
  }

  std::vector<float> shadowStorage[4];
  for (int c = 0; c < 4; ++c)
    shadowStorage[c] = storage[c];
  const auto call = [&](AEffect* effect, std::vector<float>* base, std::size_t frame,
                        int32_t count) {
    const auto at = [&](Where w) {
      return w.channel < 0 ? nullptr : base[w.channel].data() + w.start + frame;
    };
    float* inputs[2] = {at(in[0]), at(in[1])};
    float* outputs[2] = {at(out[0]), at(out[1])};
    float** inputsArg = nullInputs ? nullptr : inputs;
    float** outputsArg = nullOutputs ? nullptr : outputs;
    if (accumulate) {
      effect->process(effect, inputsArg, outputsArg, count);
    } else {
      effect->processReplacing(effect, inputsArg, outputsArg, count);
    }
  };
  call(record_, storage, 0, frames);
  if (frames > 0) {
    // Pieces of growing size, starting at a size that depends on the block: every piece from one
    // frame to 144, their borders anywhere relative to the sweep steps.
    static const int32_t kPieces[] = {1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144};
    constexpr int32_t kNumPieces = sizeof kPieces / sizeof kPieces[0];
    int32_t piece = frames % kNumPieces;
    for (int32_t i = 0; i < frames; i += kPieces[piece], piece = (piece + 1) % kNumPieces) {
      const int32_t count = std::min(kPieces[piece], frames - i);
      call(shadow_, shadowStorage, static_cast<std::size_t>(i), count);
      if (count < kPieces[piece]) break;
    }
  } else {
    call(shadow_, shadowStorage, 0, frames);
  }

  for (int c = 0; c < 4; ++c) {
    for (std::size_t i = 0; i < length; ++i) {
      if (!sameSample(storage[c][i], shadowStorage[c][i])) {
        return fail("a block of " + std::to_string(frames) + " frames (" +
                    kLayoutNames[static_cast<int>(layout)] +
                    ") differs from the same frames sent in pieces: buffer " + std::to_string(c) +
                    " sample " + std::to_string(i) + " is " + describe(storage[c][i]) +
                    " instead of " + describe(shadowStorage[c][i]));
      }
    }
  }
  if (!tainted_ && frames > 0 && !nullOutputs && !nullInputs && in[1].channel >= 0) {
    for (const Where& w : out) {
      for (int32_t i = 0; i < frames; ++i) {
        const float sample = storage[w.channel][w.start + static_cast<std::size_t>(i)];
        if (!std::isfinite(sample)) {
          return fail("output frame " + std::to_string(i) + " is " + describe(sample) +
                      " with every parameter and input sample in range");
        }
      }
    }
  }
  return invariants(accumulate ? "process" : "processReplacing");
}

enum class Op {
  kSetParameter,
  kGetParameter,
  kDispatch,
  kSetProgram,
  kSetProgramName,
  kReadText,
  kAudio,
  kSampleRate,
  kMains,
  kBlockSize,
  kReadAllTexts,
  kCount
};

bool Session::step(Reader& in) {
  switch (static_cast<Op>(in.byte() % static_cast<uint8_t>(Op::kCount))) {
    case Op::kSetParameter: {
      const int32_t index = anyIndex(in);
      return setParameter(index, anyFloat(in));
    }
    case Op::kGetParameter: {
      const int32_t index = anyIndex(in);
      note("getParameter(" + std::to_string(index) + ")");
      const float value = getParameter(index);
      if ((index < 0 || index >= kNumParams) && bitsOf(value) != bitsOf(0.0f)) {
        return fail("getParameter(" + std::to_string(index) + ") of no parameter reads " +
                    describe(value));
      }
      return true;
    }
    case Op::kDispatch: {
      const int32_t opcode = anyOpcode(in);
      const int32_t index = anyIndex(in);
      const VstIntPtr value = anyValue(in);
      const bool withPointer = in.byte() % 2 == 0;
      return rawDispatch(opcode, index, value, withPointer, anyFloat(in));
    }
    case Op::kSetProgram:
      return setProgram(anyValue(in));
    case Op::kSetProgramName: {
      const std::size_t length = in.half() % (kMaxNameLength + 1);
      return setProgramName(length, in.byte());
    }
    case Op::kReadText: {
      const int32_t opcode = effGetProgramName + in.byte() % 4;
      const int32_t index = anyIndex(in);
      note("read text (opcode " + std::to_string(opcode) + ", index " + std::to_string(index) +
           ")");
      return readText(opcode, index, nullptr) && invariants("a text read");
    }
    case Op::kAudio: {
      const uint8_t kind = in.byte();
      const auto layout = static_cast<Layout>((kind >> 1) % static_cast<uint8_t>(Layout::kCount));
      const int32_t frames = anyFrames(in);
      const auto signal = static_cast<Signal>(in.byte() % static_cast<uint8_t>(Signal::kCount));
      return audio(kind % 2 == 0, layout, frames, signal);
    }
    case Op::kSampleRate: {
      const float rate = anyRate(in);
      note("dispatch(effSetSampleRate, " + describe(rate) + ")");
      dispatch(effSetSampleRate, 0, 0, nullptr, rate);
      return invariants("effSetSampleRate");
    }
    case Op::kMains: {
      const uint8_t b = in.byte();
      const VstIntPtr value = b % 3 == 2 ? anyValue(in) : b % 3;
      note("dispatch(effMainsChanged, value " + std::to_string(value) + ")");
      dispatch(effMainsChanged, 0, value, nullptr, 0.0f);
      return invariants("effMainsChanged");
    }
    case Op::kBlockSize: {
      const VstIntPtr value = anyValue(in);
      note("dispatch(effSetBlockSize, value " + std::to_string(value) + ")");
      dispatch(effSetBlockSize, 0, value, nullptr, 0.0f);
      return invariants("effSetBlockSize");
    }
    case Op::kReadAllTexts:
    case Op::kCount:
      return readAllTexts();
  }
  return true;
}

}  // namespace

std::string runHostCalls(const uint8_t* data, std::size_t size, std::string* trace) {
  Reader in(data, size);
  Session session(trace);
  if (!session.open()) return session.failure();
  while (!in.done()) {
    if (!session.step(in)) return session.failure();
  }
  session.close();
  return session.failure();
}

}  // namespace tffuzz
