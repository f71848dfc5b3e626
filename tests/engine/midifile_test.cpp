// Standard MIDI Files: event times through the tempo map, across tracks, and the file's length.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/midifile.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Vlq(uint32_t u) {
  Bytes ab = {static_cast<uint8_t>(u & 0x7F)};
  for (u >>= 7; u; u >>= 7) ab.insert(ab.begin(), static_cast<uint8_t>(0x80 | (u & 0x7F)));
  return ab;
}

// One track chunk from (delta, event bytes) pairs, ended by an end-of-track marker.
Bytes Track(const std::vector<std::pair<uint32_t, Bytes>>& aevent) {
  Bytes abBody;
  for (const auto& [uDelta, abEvent] : aevent) {
    Bytes abDelta = Vlq(uDelta);
    abBody.insert(abBody.end(), abDelta.begin(), abDelta.end());
    abBody.insert(abBody.end(), abEvent.begin(), abEvent.end());
  }
  abBody.insert(abBody.end(), {0x00, 0xFF, 0x2F, 0x00});
  uint32_t n = static_cast<uint32_t>(abBody.size());
  Bytes ab = {'M', 'T', 'r', 'k', static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
              static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
  ab.insert(ab.end(), abBody.begin(), abBody.end());
  return ab;
}

Bytes File(int iFormat, const std::vector<Bytes>& aabTrack, int nDivision = 96) {
  Bytes ab = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, static_cast<uint8_t>(iFormat), 0,
              static_cast<uint8_t>(aabTrack.size()), static_cast<uint8_t>(nDivision >> 8),
              static_cast<uint8_t>(nDivision)};
  for (const Bytes& abTrack : aabTrack) ab.insert(ab.end(), abTrack.begin(), abTrack.end());
  return ab;
}

Bytes Tempo(uint32_t uMicros) {
  return {0xFF, 0x51, 3, static_cast<uint8_t>(uMicros >> 16), static_cast<uint8_t>(uMicros >> 8),
          static_cast<uint8_t>(uMicros)};
}

Bytes NoteOn(int iKey) { return {0x90, static_cast<uint8_t>(iKey), 100}; }

}  // namespace

// A format-1 file: the tempo map in track 1, notes in track 2 between and on its changes. At 96
// ticks per quarter: 120 bpm (1/192 s a tick) until tick 192, 60 bpm until 288, then 240 bpm.
TEST(MidiFileTest, EventTimesFollowTheTempoMapOfAnyTrack) {
  Bytes abTempo = Track({{0, Tempo(500000)}, {192, Tempo(1000000)}, {96, Tempo(250000)}});
  Bytes abNotes = Track({{96, NoteOn(60)},     // tick 96: 0.5 s
                         {96, NoteOn(61)},     // tick 192, on the first change: 1 s
                         {48, NoteOn(62)},     // tick 240: 1 s + 48 ticks at 1/96 s
                         {48, NoteOn(63)},     // tick 288, on the second change: 2 s
                         {384, NoteOn(64)}});  // tick 672: 2 s + 384 ticks at 1/384 s
  Bytes ab = File(1, {abTempo, abNotes});
  MidiFile file;
  std::string sError;
  ASSERT_TRUE(ParseMidiFile(ab.data(), ab.size(), &file, &sError)) << sError;
  EXPECT_EQ(file.nTracks, 2);
  const double adWant[] = {0.5, 1.0, 1.5, 2.0, 3.0};
  ASSERT_EQ(file.aevent.size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_DOUBLE_EQ(file.aevent[i].dSeconds, adWant[i]) << i;
    EXPECT_EQ(file.aevent[i].uMessage, (0x90u | (60u + i) << 8 | 100u << 16)) << i;
  }
  EXPECT_DOUBLE_EQ(file.dLength, 3.0) << "the last end-of-track marker";
}

// Many tempo changes and many notes: each note's time is the sum of the segments before it.
TEST(MidiFileTest, ManyTempoChangesAndNotes) {
  std::vector<std::pair<uint32_t, Bytes>> aTempo, aNotes;
  const int n = 2000;
  for (int i = 0; i < n; ++i) {
    aTempo.push_back({i == 0 ? 0u : 96u, Tempo(i % 2 ? 1000000 : 500000)});  // a beat of 0.5 s, a beat of 1 s, ...
    aNotes.push_back({i == 0 ? 48u : 96u, NoteOn(i % 128)});                  // in the middle of every beat
  }
  Bytes abTempo = Track(aTempo), abNotes = Track(aNotes);
  Bytes ab = File(1, {abTempo, abNotes});
  MidiFile file;
  std::string sError;
  ASSERT_TRUE(ParseMidiFile(ab.data(), ab.size(), &file, &sError)) << sError;
  ASSERT_EQ(file.aevent.size(), static_cast<size_t>(n));
  for (int i = 0; i < n; i += 97) {
    double dWant = (i / 2) * 1.5 + (i % 2 ? 0.5 + 0.5 : 0.25);  // whole pairs of beats, then into the beat
    EXPECT_NEAR(file.aevent[static_cast<size_t>(i)].dSeconds, dWant, 1e-9) << i;
  }
}
