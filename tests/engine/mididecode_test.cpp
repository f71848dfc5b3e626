// MIDI decoding: every kind of short message, as the patches, the channel state and the error
// list see it. One table; each case plays a few set-up messages, then the messages under test,
// whose every effect is listed.
// Also the words a monitor shows for a message.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/midi.h"
#include "engine_support.h"
#include "enginecore/controllers.h"
#include "enginecore/settings.h"
#include "patch/structural.h"

namespace {

constexpr double kFine = 1.0 / 16384;  // the weight of a fine part's unit, 2^-14

// One effect of decoding: a patch operation, or one of the engine's all-notes/all-sound-off.
struct Effect {
  std::string sWhat;  // "on", "off", "pressure", "control", "all notes off", "all sound off"
  int iPatch;         // the slot whose patch was called; -1 for the engine
  int iA;             // the key, or for "control" the message's channel
  int iB;             // for "control" the controller-space index
  double d;           // velocity, pressure or controller value

  bool operator==(const Effect& o) const {
    // Values are exact: decoding computes them as the expectations do.
    return sWhat == o.sWhat && iPatch == o.iPatch && iA == o.iA && iB == o.iB && d == o.d;
  }
};

std::ostream& operator<<(std::ostream& os, const Effect& e) {
  return os << "{" << e.sWhat << " patch " << e.iPatch << " " << e.iA << " " << e.iB << " " << e.d << "}";
}

std::vector<Effect> g_aeffect;

class RecordingPatch : public ScriptPatch {
 public:
  RecordingPatch(InterpreterSettings* pengine, int iSlot) : ScriptPatch(pengine), iSlot_(iSlot) {}
  void NoteOn(int iNote, double d) override { g_aeffect.push_back({"on", iSlot_, iNote, 0, d}); }
  void NoteOff(int iNote, double d) override { g_aeffect.push_back({"off", iSlot_, iNote, 0, d}); }
  void PolyPressure(int iNote, double d) override { g_aeffect.push_back({"pressure", iSlot_, iNote, 0, d}); }
  void ControllerChanged(int iChannel, int iIndex, double d) override {
    g_aeffect.push_back({"control", iSlot_, iChannel, iIndex, d});
  }
  void AllNotesOff() override { ADD_FAILURE() << "decoding releases notes through the engine"; }
  void AllSoundOff() override { ADD_FAILURE() << "decoding silences through the engine"; }

 private:
  int iSlot_;
};

class Target : public MidiTarget {
 public:
  explicit Target(InterpreterSettings* pengine) : pengine_(pengine) {}
  AKArray<PatchSlot>& Slots() override { return table.aslot; }
  InterpreterSettings* Engine() override { return pengine_; }
  void AllNotesOff() override { g_aeffect.push_back({"all notes off", -1, 0, 0, 0}); }
  void AllSoundOff() override { g_aeffect.push_back({"all sound off", -1, 0, 0, 0}); }
  PatchTable table;

 private:
  InterpreterSettings* pengine_;
};

// A channel-state value after the messages: value[i], and where given its fine-part flag and
// pending coarse byte.
struct StateCheck {
  int iChannel, iIndex;
  double dValue;
  int iFine = -1;           // -1: not checked
  double dPending = -1;     // -1: not checked
};

struct DecodeCase {
  const char* pszName;
  std::vector<bool> abPatch;       // the patch table: which slots hold a patch
  std::vector<uint32_t> auSetUp;   // played first; their effects are not checked
  std::vector<uint32_t> auMessage; // the messages under test
  std::vector<Effect> aeffect;     // every effect of auMessage, in order
  std::vector<StateCheck> astate;
  std::map<std::string, int> aReports;  // the error list afterwards: text and count
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.pszName; }

uint32_t Msg(int iStatus, int d1, int d2 = 0) { return MidiPack(iStatus, d1, d2); }

Effect On(int iKey, double d, int iPatch = 0) { return {"on", iPatch, iKey, 0, d}; }
Effect Off(int iKey, double d, int iPatch = 0) { return {"off", iPatch, iKey, 0, d}; }
Effect Control(int iChannel, int iIndex, double d, int iPatch = 0) { return {"control", iPatch, iChannel, iIndex, d}; }
Effect Engine(const char* psz) { return {psz, -1, 0, 0, 0}; }

// Control change 121: every loaded patch, in table order, is told 0 for the whole controller space.
std::vector<Effect> ToldAllZero(int iChannel, std::vector<int> aiPatch) {
  std::vector<Effect> a;
  for (int iPatch : aiPatch)
    for (int k = 0; k < ControllerCount; ++k) a.push_back(Control(iChannel, k, 0, iPatch));
  return a;
}

const int kC4 = 60;
const int kNoteDownC4 = ControllerNoteDownFirst + kC4;
const char* const kModes = "MIDI change of OMNI/MONO/POLY not currently supported";

const DecodeCase kCases[] = {
    // --- Notes, the note-down values and the high-resolution velocity prefix (controller 88).
    {"note_on", {true}, {}, {Msg(0x90, kC4, 100)}, {On(kC4, 100 / 127.0), Control(0, kNoteDownC4, 1)},
     {{0, kNoteDownC4, 1}}, {}},
    {"note_on_velocity_0_is_note_off_0_5", {true}, {Msg(0x90, kC4, 100)}, {Msg(0x90, kC4, 0)},
     {Off(kC4, 0.5), Control(0, kNoteDownC4, 0)}, {{0, kNoteDownC4, 0}}, {}},
    {"note_off_with_release_velocity", {true}, {Msg(0x90, kC4, 100)}, {Msg(0x80, kC4, 64)},
     {Off(kC4, 64 / 127.0), Control(0, kNoteDownC4, 0)}, {{0, kNoteDownC4, 0}}, {}},
    {"velocity_prefix_refines_the_next_note_only",
     {true},
     {},
     {Msg(0xB0, 88, 64), Msg(0x90, kC4, 100), Msg(0x90, 62, 100)},
     {Control(0, 88, 64 / 127.0), On(kC4, 100 / 127.0 + 64 / 127.0 * kFine), Control(0, kNoteDownC4, 1),
      On(62, 100 / 127.0), Control(0, ControllerNoteDownFirst + 62, 1)},
     {{0, 88, 0}},
     {}},
    {"velocity_prefix_never_raises_full_velocity",
     {true},
     {Msg(0xB0, 88, 64)},
     {Msg(0x90, kC4, 127)},
     {On(kC4, 1.0), Control(0, kNoteDownC4, 1)},
     {{0, 88, 64 / 127.0}},
     {}},
    {"velocity_prefix_refines_a_release_velocity_but_not_a_zero_velocity_note_on",
     {true},
     {Msg(0xB0, 88, 32)},
     {Msg(0x90, kC4, 0), Msg(0x80, kC4, 64)},
     {Off(kC4, 0.5), Control(0, kNoteDownC4, 0), Off(kC4, 64 / 127.0 + 32 / 127.0 * kFine),
      Control(0, kNoteDownC4, 0)},
     {{0, 88, 0}},
     {}},
    {"key_pressure_goes_to_the_patch_only", {true}, {}, {Msg(0xA0, kC4, 64)}, {{"pressure", 0, kC4, 0, 64 / 127.0}}, {}, {}},

    // --- Controllers: coarse values at once, or waiting for their fine parts once one came.
    // The coarse byte is kept all the same, for a fine part that may follow.
    {"coarse_controller_without_fine_part", {true}, {}, {Msg(0xB0, 1, 64)}, {Control(0, 1, 64 / 127.0)},
     {{0, 1, 64 / 127.0, 0, 64}}, {}},
    // A 14-bit mod wheel's first pair after start acts as every later one: full wheel, not the
    // fine part added to a coarse value never received.
    {"first_14_bit_pair_after_start", {true}, {}, {Msg(0xB0, 1, 127), Msg(0xB0, 33, 10)},
     {Control(0, 1, 1.0), Control(0, 1, 1.0)}, {{0, 1, 1.0, 1, 127}, {0, 33, 0}}, {}},
    {"the_same_14_bit_pair_again", {true}, {Msg(0xB0, 1, 127), Msg(0xB0, 33, 10)},
     {Msg(0xB0, 1, 127), Msg(0xB0, 33, 10)}, {Control(0, 1, 1.0)}, {{0, 1, 1.0, 1, 127}}, {}},
    {"first_14_bit_pair_in_the_middle", {true}, {}, {Msg(0xB0, 1, 64), Msg(0xB0, 33, 10)},
     {Control(0, 1, 64 / 127.0), Control(0, 1, 64 / 127.0 + 10 * kFine)}, {{0, 1, 64 / 127.0 + 10 * kFine, 1, 64}},
     {}},
    {"fine_part_completes_the_pending_coarse_value",
     {true},
     {Msg(0xB0, 33, 0)},  // the first fine part: from now on controller 1 waits for its fine part
     {Msg(0xB0, 1, 64), Msg(0xB0, 33, 10)},
     {Control(0, 1, 64 / 127.0 + 10 * kFine)},
     {{0, 1, 64 / 127.0 + 10 * kFine, 1, 64}, {0, 33, 0}},
     {}},
    {"fine_part_alone_starts_from_zero", {true}, {}, {Msg(0xB0, 39, 3)}, {Control(0, 7, 3 * kFine)},
     {{0, 7, 3 * kFine, 1, 0}}, {}},
    {"fine_part_not_added_at_full_scale",
     {true},
     {Msg(0xB0, 33, 0)},
     {Msg(0xB0, 1, 127), Msg(0xB0, 33, 5)},
     {Control(0, 1, 1.0)},
     {{0, 1, 1.0}},
     {}},
    {"registered_and_unregistered_parameter_fine_parts",
     {true},
     {},
     {Msg(0xB0, 98, 3), Msg(0xB0, 100, 4), Msg(0xB0, 99, 5), Msg(0xB0, 101, 6)},
     {Control(0, 99, 3 * kFine), Control(0, 101, 4 * kFine)},
     {{0, 99, 3 * kFine, 1, 5}, {0, 101, 4 * kFine, 1, 6}, {0, 98, 0}, {0, 100, 0}},
     {}},
    {"channel_pressure", {true}, {}, {Msg(0xD0, 127)}, {Control(0, ControllerPressure, 1.0)},
     {{0, ControllerPressure, 1.0}}, {}},
    {"pitch_bend_scaling",
     {true},
     {},
     {Msg(0xE0, 0, 0), Msg(0xE0, 0, 64), Msg(0xE0, 127, 127), Msg(0xE0, 127, 63), Msg(0xE0, 1, 64)},
     {Control(0, ControllerPitchBend, -1.0), Control(0, ControllerPitchBend, 0.0), Control(0, ControllerPitchBend, 1.0),
      Control(0, ControllerPitchBend, -1 / 8192.0), Control(0, ControllerPitchBend, 1 / 8191.0)},
     {{0, ControllerPitchBend, 1 / 8191.0}},
     {}},

    // --- Channel-mode messages.
    {"all_sound_off", {true}, {}, {Msg(0xB0, 120, 0)}, {Engine("all sound off")}, {}, {}},
    {"all_notes_off", {true}, {}, {Msg(0xB0, 123, 0)}, {Engine("all notes off")}, {}, {}},
    {"local_control_is_reported_only", {true}, {}, {Msg(0xB0, 122, 127)}, {}, {},
     {{"MIDI change of LOCAL CONTROL not supported as relevant", 1}}},
    {"omni_mono_poly_are_reported_and_release_all_notes",
     {true},
     {},
     {Msg(0xB0, 124, 0), Msg(0xB0, 125, 0), Msg(0xB0, 126, 1), Msg(0xB0, 127, 0)},
     {Engine("all notes off"), Engine("all notes off"), Engine("all notes off"), Engine("all notes off")},
     {},
     {{kModes, 4}}},
    {"reset_all_controllers_clears_0_to_127_and_tells_every_patch_0_for_everything",
     {true, true},
     {Msg(0xB1, 33, 1), Msg(0xB1, 1, 64), Msg(0xB1, 7, 100), Msg(0x91, kC4, 100), Msg(0xE1, 0, 0)},
     {Msg(0xB1, 121, 0)},
     ToldAllZero(1, {0, 1}),
     // Pitch bend (121) and pressure (120) lie inside 0..127 and are cleared; note-down values are kept.
     {{1, 1, 0, 0, 0}, {1, 7, 0}, {1, ControllerPitchBend, 0}, {1, kNoteDownC4, 1}},
     {}},

    // --- Routing: the message's channel picks the patch; every patch hears every change.
    {"every_patch_hears_every_channel",
     {true, true},
     {},
     {Msg(0x91, kC4, 127), Msg(0xB1, 7, 127)},
     {On(kC4, 1.0, 1), Control(1, kNoteDownC4, 1, 0), Control(1, kNoteDownC4, 1, 1), Control(1, 7, 1.0, 0),
      Control(1, 7, 1.0, 1)},
     {{1, 7, 1.0}, {0, 7, 0}},
     {}},
    {"channel_16_of_16_slots_is_routed",
     {false, false, false, false, false, false, false, false, false, false, false, false, false, false, false, true},
     {},
     {Msg(0x9F, kC4, 127)},
     {On(kC4, 1.0, 15), Control(15, kNoteDownC4, 1, 15)},
     {{15, kNoteDownC4, 1}},
     {}},
    {"channel_beyond_the_table_is_reported_counted_from_1",
     {true, true},
     {},
     {Msg(0x92, kC4, 100), Msg(0xB2, 1, 1)},
     {},
     {{2, kNoteDownC4, 0}},
     {{"MIDI channel number 3 too high", 2}}},
    {"empty_slot_is_reported_counted_from_0",
     {true, false},
     {},
     {Msg(0x91, kC4, 100)},
     {},
     {{1, kNoteDownC4, 0}},
     {{"MIDI receiving messages on channel 1, but no patch", 1}}},

    // --- What is not supported is reported, changing nothing.
    {"program_change", {true}, {}, {Msg(0xC0, 5)}, {}, {}, {{"MIDI PROGRAM CHANGE messages not currently handled (=5)", 1}}},
    {"data_byte_as_status", {true}, {}, {Msg(0x00, 1, 2), Msg(0x70, 1, 2)}, {}, {},
     {{"MIDI unexpected MSN status 0", 1}, {"MIDI unexpected MSN status 7", 1}}},
    {"system_messages",
     {true},
     {},
     {0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF},
     {},
     {},
     {{"MIDI System Exclusive Messages received but not supported", 1},
      {"MIDI Time Code Quarter Frame received but not supported", 1},
      {"MIDI Song Position Pointer received but not supported", 1},
      {"MIDI Song Select received but not supported", 1},
      {"MIDI System Common Message 244 received but not supported", 1},
      {"MIDI System Common Message 245 received but not supported", 1},
      {"MIDI Timing Clock received but not supported", 2},
      {"MIDI System Real-Time Message 249 received but not supported", 1},
      {"MIDI Start Sequence message received but not supported", 1},
      {"MIDI Continue Sequence message received but not supported", 1},
      {"MIDI Stop Sequence message received but not supported", 1},
      {"MIDI System Real-Time Message 253 received but not supported", 1},
      {"MIDI RESET received but not supported", 1}}},
};

class MidiDecode : public testing::Test {
 protected:
  void SetUp() override {
    pengine_ = std::make_unique<InterpreterSettings>(nullptr);
    CreateChannelModules();
    ptarget_ = std::make_unique<Target>(pengine_.get());
    ErrorList::Get()->Clear();
  }
  void TearDown() override {
    for (PatchSlot& slot : ptarget_->table.aslot) delete slot.ppatch;
    ptarget_->table.aslot.Empty();
    DestroyChannelModules();
    pengine_.reset();
    ErrorList::Get()->Clear();
    g_aeffect.clear();
  }
  ModChannel* Channel(int i) { return static_cast<ModChannel*>(pengine_->apmodChannel[i]); }
  void MakeTable(const std::vector<bool>& abPatch) {
    AKArray<PatchSlot>& aslot = ptarget_->table.aslot;
    aslot.SetSize(static_cast<int>(abPatch.size()));
    for (int i = 0; i < aslot.N(); ++i) {
      aslot[i] = PatchSlot{};
      if (abPatch[static_cast<size_t>(i)]) aslot[i].ppatch = new RecordingPatch(pengine_.get(), i);
    }
  }

  std::unique_ptr<InterpreterSettings> pengine_;
  std::unique_ptr<Target> ptarget_;
};

class MidiDecodeTest : public MidiDecode, public testing::WithParamInterface<DecodeCase> {};

TEST_P(MidiDecodeTest, AppliesAndReportsEveryMessage) {
  const DecodeCase& c = GetParam();
  MakeTable(c.abPatch);
  ErrorList::Get()->Clear();
  for (uint32_t u : c.auSetUp) HandleMidiMessage(*ptarget_, u);
  ASSERT_TRUE(ErrorList::Get()->anode.N() == 0) << "the set-up is supported MIDI";
  g_aeffect.clear();
  for (uint32_t u : c.auMessage) HandleMidiMessage(*ptarget_, u);

  EXPECT_EQ(g_aeffect, c.aeffect);
  for (const StateCheck& s : c.astate) {
    ModChannel* pchan = Channel(s.iChannel);
    EXPECT_EQ(pchan->v.adValue[s.iIndex], s.dValue) << "channel " << s.iChannel << " index " << s.iIndex;
    if (s.iFine >= 0) {
      EXPECT_EQ(pchan->abFine[s.iIndex], s.iFine) << "fine flag of " << s.iIndex;
    }
    if (s.dPending >= 0) {
      EXPECT_EQ(pchan->adPending[s.iIndex], s.dPending) << "pending byte of " << s.iIndex;
    }
  }
  std::map<std::string, int> aReports;
  for (const ErrorListNode& node : ErrorList::Get()->anode) {
    aReports[node.psz] = node.iCount;
    EXPECT_EQ(node.iLine, -1) << node.psz << ": MIDI reports concern no patch line";
  }
  EXPECT_EQ(aReports, c.aReports);
}

// A note that does not come as bytes (the command line's) keeps its exact velocity and otherwise
// acts as its message does, the velocity prefix left for the next message.
TEST_F(MidiDecode, NoteWithAnExactVelocityActsAsItsMessage) {
  MakeTable({true, true});
  HandleMidiMessage(*ptarget_, Msg(0xB1, 88, 64));
  g_aeffect.clear();
  HandleNote(*ptarget_, 1, kC4, 0.123456789, true);
  HandleNote(*ptarget_, 1, kC4, 0.5, false);
  HandleNote(*ptarget_, 2, kC4, 0.5, true);  // beyond the table: nothing
  std::vector<Effect> aeffect = {On(kC4, 0.123456789, 1),          Control(1, kNoteDownC4, 1, 0),
                                 Control(1, kNoteDownC4, 1, 1), Off(kC4, 0.5, 1),
                                 Control(1, kNoteDownC4, 0, 0), Control(1, kNoteDownC4, 0, 1)};
  EXPECT_EQ(g_aeffect, aeffect);
  EXPECT_EQ(Channel(1)->v.adValue[88], 64 / 127.0);
  EXPECT_EQ(ErrorList::Get()->anode.N(), 0);
}

INSTANTIATE_TEST_SUITE_P(Messages, MidiDecodeTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.pszName); });

}  // namespace

// The words a monitor shows: channel-mode messages by their own names.
namespace {

struct DescribeCase {
  uint32_t uMessage;
  const char* pszText;
};

TEST(DescribeMidi, ChannelModeMessagesByTheirOwnNames) {
  const DescribeCase acase[] = {
      {MidiPack(0xB0, 120, 0), "All Sound Off ch 1"},
      {MidiPack(0xB1, 121, 0), "Reset All Controllers ch 2"},
      {MidiPack(0xB0, 122, 0), "Local Control ch 1"},
      {MidiPack(0xBF, 123, 0), "All Notes Off ch 16"},
      {MidiPack(0xB0, 124, 0), "Omni Off ch 1"},
      {MidiPack(0xB0, 125, 0), "Omni On ch 1"},
      {MidiPack(0xB0, 126, 1), "Mono On ch 1"},
      {MidiPack(0xB0, 127, 0), "Poly On ch 1"},
      // The controllers below them keep their controller names.
      {MidiPack(0xB0, 1, 64), "Control ch 1 ModWheel (1) 64"},
      {MidiPack(0xB0, 119, 5), "Control ch 1 CN119 (119) 5"},
      {MidiPack(0x90, 69, 100), "Note On ch 1 A4 vel 100"},
  };
  for (const DescribeCase& c : acase) {
    char sz[80];
    DescribeMidiMessage(c.uMessage, sz, sizeof sz);
    EXPECT_STREQ(sz, c.pszText);
  }
}

}  // namespace
