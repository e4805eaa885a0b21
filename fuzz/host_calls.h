// Host-call sequences for the fuzzer and its regression tests.
//
// A byte string is decoded into calls on a fresh effect, made as a careless host might make them,
// through the five entry functions of the effect record: every dispatcher opcode (negative and huge
// ones too) with any index, value and pointer, parameter values from every float bit pattern,
// program numbers across the whole integer range, program names of 0 to 1000 characters, text reads
// into guarded buffers, both audio calls with 0 to 4096 frames (and negative counts), in place or
// not, sample-rate changes to any float, suspend and resume, and effClose at the end.
//
// Memory errors and undefined behaviour are the sanitizers' to find. After every call the sequence
// itself checks what must hold whatever the host sends:
// - texts stay within 24 bytes, terminator included, with nothing written past the terminator;
// - opcodes that carry no text leave the host's buffer alone;
// - every parameter reads back finite; a finite value is stored as sent, anything else changes
//   nothing; an index outside 0..7 reads 0;
// - the current program is always 0..15, and only a number in 0..15 selects one;
// - a program name reads back cut to 23 characters;
// - the delay lines' positions stay inside the lines and the delay in effect is 0 to 199;
// - with every parameter ever sent within 0 to 1 and every input sample within -1 to 1, every
//   output sample is finite;
// - a block gives the same bits however it is cut: a second effect (the shadow) gets every call
//   too, but each audio call in pieces of 1 to 144 frames with the same buffer layout (in place,
//   crossed, overlapping), so a block-wise shortcut that leaves the frame-by-frame result shows;
// - effClose answers 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tffuzz {

// Runs the sequence encoded in `data` on a new effect and closes it. Returns an empty string when
// every check held, otherwise a description of the first one that failed. When `trace` is given,
// one readable line per call is appended to it (for turning a finding into a test).
std::string runHostCalls(const uint8_t* data, std::size_t size, std::string* trace = nullptr);

}  // namespace tffuzz
