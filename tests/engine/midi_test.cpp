// MIDI decoding of controllers as a 14-bit sender plays them, and the words a monitor shows for
// channel-mode messages.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "engine_support.h"
#include "midi.h"
#include "settings.h"
#include "structural.h"

namespace {

// The engine side of decoding: the settings with their channels, one patch on channel 1.
class Target : public MidiTarget {
 public:
  Target() : settings_(nullptr) {
    CreateChannelModules();
    table_.aslot.SetSize(1);
    table_.aslot[0].ppatch = new ScriptPatch(&settings_);
  }
  ~Target() override {
    delete table_.aslot[0].ppatch;
    table_.aslot.Empty();
    DestroyChannelModules();
    ErrorList::Get()->Clear();
  }
  AKArray<PatchSlot>& Slots() override { return table_.aslot; }
  InterpreterSettings* Engine() override { return &settings_; }
  void AllNotesOff() override {}
  void AllSoundOff() override {}
  double Value(int iIndex) { return static_cast<ModChannel*>(settings_.apmodChannel[0])->v.adValue[iIndex]; }

 private:
  InterpreterSettings settings_;
  PatchTable table_;
};

constexpr double kFine = 1.0 / 16384;

struct ControllerCase {
  const char* pszName;
  std::vector<uint32_t> aMessages;  // control changes on channel 1
  double dModWheel;                 // value[1] afterwards
};

const ControllerCase kControllerCases[] = {
    // The first pair after start must act as every later one: full wheel, not the fine part
    // added to a coarse value of 0 that was never sent.
    {"first_14_bit_pair_at_full_scale", {MidiPack(0xB0, 1, 127), MidiPack(0xB0, 33, 10)}, 1.0},
    {"same_pair_again",
     {MidiPack(0xB0, 1, 127), MidiPack(0xB0, 33, 10), MidiPack(0xB0, 1, 127), MidiPack(0xB0, 33, 10)},
     1.0},
    {"first_pair_in_the_middle", {MidiPack(0xB0, 1, 64), MidiPack(0xB0, 33, 10)}, 64 / 127.0 + 10 * kFine},
    // Once a fine part was seen the coarse value waits for its fine part.
    {"coarse_waits_after_a_fine_part",
     {MidiPack(0xB0, 1, 64), MidiPack(0xB0, 33, 10), MidiPack(0xB0, 1, 100)},
     64 / 127.0 + 10 * kFine},
    {"coarse_alone_takes_effect_at_once", {MidiPack(0xB0, 1, 64)}, 64 / 127.0},
    {"reset_all_controllers_forgets_the_pair",
     {MidiPack(0xB0, 1, 127), MidiPack(0xB0, 33, 10), MidiPack(0xB0, 121, 0), MidiPack(0xB0, 1, 32)},
     32 / 127.0},
};

class ControllerTest : public testing::TestWithParam<ControllerCase> {};

TEST_P(ControllerTest, ModWheel) {
  Target target;
  for (uint32_t u : GetParam().aMessages) HandleMidiMessage(target, u);
  EXPECT_DOUBLE_EQ(target.Value(1), GetParam().dModWheel);
  EXPECT_EQ(target.Value(33), 0) << "a fine part is never stored at its own index";
}

INSTANTIATE_TEST_SUITE_P(Sequences, ControllerTest, testing::ValuesIn(kControllerCases),
                         [](const testing::TestParamInfo<ControllerCase>& info) { return std::string(info.param.pszName); });

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
