// Fuzz target for MIDI input: byte streams, cut into deliveries as a port hands them over, are
// assembled into messages and dumps and every short message is decoded by the engine against
// a stand-in patch on channel 1. Any message that is not well formed, a dump that overruns its
// buffer, or a crash in decoding is a finding. An input that begins with "MThd" is read as a
// Standard MIDI File instead, whose events must come out well formed and in time order, and go
// through the same decoding.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/interpreter.h"
#include "engine/midifile.h"
#include "engine/midiinput.h"
#include "formula/errorlist.h"
#include "foundation/akconfig.h"
#include "fuzz_common.h"
#include "patch/patch.h"
#include "patch/structural.h"

namespace {

// Takes every operation decoding calls, and does nothing with it. Built from an empty
// configuration; without module kinds its compilation fails, which decoding never looks at.
class QuietPatch : public Patch {
 public:
  QuietPatch(InterpreterSettings* pengine, AKConfig_T* pconf) : Patch(pengine, pconf, nullptr) {}
  void NoteOn(int iNote, double v) override { Check(iNote, v); }
  void NoteOff(int iNote, double v) override { Check(iNote, v); }
  void PolyPressure(int iNote, double v) override { Check(iNote, v); }
  void ControllerChanged(int iChannel, int iControl, double v) override {
    if (iChannel < 0 || iChannel > 15 || iControl < 0 || iControl >= ControllerCount || !(v >= -1 && v <= 1))
      __builtin_trap();
  }
  void AllNotesOff() override {}
  void AllSoundOff() override {}

 private:
  static void Check(int iNote, double v) {
    if (iNote < 0 || iNote > 127 || !(v >= 0 && v <= 1)) __builtin_trap();
  }
};

struct World {
  PatchTable table;
  std::unique_ptr<Interpreter> pengine;
  World() {
    FuzzInitStatusLog();
    pengine = std::make_unique<Interpreter>(nullptr, &table);
    CreateChannelModules();
    AKConfig_T* pconf = AKConfigNew("patch", nullptr);
    table.aslot.SetSize(1);
    table.aslot[0].ppatch = new QuietPatch(pengine.get(), pconf);
    AKConfigFree(pconf);
  }
  ~World() {
    delete table.aslot[0].ppatch;
    table.aslot.Empty();
    DestroyChannelModules();
  }
};

// Checks each message the assembler makes and hands it to the engine's decoder.
class DecodingSink : public MidiInSink {
 public:
  explicit DecodingSink(Interpreter& engine) : engine_(engine) {}
  void OnShortData(uint32_t u) override {
    unsigned char bStatus = u & 0xFF;
    int nData = MidiDataBytes(bStatus);
    if (bStatus < 0x80 || bStatus == 0xF0 || bStatus == 0xF7) __builtin_trap();
    if ((u >> 8) & 0x80 || (u >> 16) & 0x80 || u >> 24) __builtin_trap();
    if (nData < 2 && (u >> 16)) __builtin_trap();
    if (nData < 1 && (u >> 8)) __builtin_trap();
    engine_.HandleMidiMessage(0, u);
  }
  void OnLongData(MidiSysexBuffer* pbuf) override {
    if (pbuf->nBytesRecorded == 0 || pbuf->nBytesRecorded > pbuf->nBufferLength || pbuf->pData[0] != 0xF0)
      __builtin_trap();
    for (uint32_t i = 1; i < pbuf->nBytesRecorded; ++i)
      if (pbuf->pData[i] >= 0x80 && !(i + 1 == pbuf->nBytesRecorded && pbuf->pData[i] == 0xF7)) __builtin_trap();
    ++nDumps;
  }
  void OnError(uint32_t) override {}
  void OnLongError(uint32_t) override {}
  int nDumps = 0;

 private:
  Interpreter& engine_;
};

// A file's events: each a channel message with its data bytes below 0x80, in time order.
void CheckFile(const uint8_t* pData, size_t nSize, Interpreter& engine) {
  MidiFile file;
  std::string sError;
  if (!ParseMidiFile(pData, nSize, &file, &sError)) {
    if (sError.empty()) __builtin_trap();  // a refusal always says why
    return;
  }
  double dLast = 0;
  for (const MidiFileEvent& event : file.aevent) {
    if (!(event.dSeconds >= dLast) || !(event.dSeconds <= file.dLength)) __builtin_trap();
    dLast = event.dSeconds;
    uint32_t u = event.uMessage;
    if ((u & 0x80) == 0 || (u & 0xF0) == 0xF0 || (u >> 8) & 0x80 || (u >> 16) & 0x80 || u >> 24) __builtin_trap();
    engine.HandleMidiMessage(0, u);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  static World world;
  if (nSize == 0) return 0;
  if (nSize >= 4 && memcmp(pData, "MThd", 4) == 0) {
    CheckFile(pData, nSize, *world.pengine);
    ErrorList::Get()->Clear();
    return 0;
  }
  // The first byte sets the dump buffer's size (0: none queued) and how the rest is cut into
  // deliveries (every Nth byte starts a new one; 0: one delivery).
  uint32_t nBuffer = (pData[0] & 0x0F) * 8;
  size_t nCut = pData[0] >> 4;
  ++pData, --nSize;
  unsigned char abSysex[120];
  MidiSysexBuffer buf;
  buf.pData = abSysex;
  buf.nBufferLength = nBuffer;
  MidiAssembler assembler;
  if (nBuffer) assembler.SetSysexBuffer(&buf);
  DecodingSink sink(*world.pengine);
  for (size_t i = 0; i < nSize;) {
    size_t n = nCut ? std::min(nCut, nSize - i) : nSize;
    assembler.Feed(pData + i, n, sink);
    i += n;
  }
  if (sink.nDumps > 1) __builtin_trap();  // one dump per queued buffer
  ErrorList::Get()->Clear();
  return 0;
}
