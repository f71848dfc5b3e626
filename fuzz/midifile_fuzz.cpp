// Fuzz target for Standard MIDI Files: any bytes are read or refused with a reason; what is read
// is a list of well-formed channel messages in time order, every time finite and within the
// file's length. A crash, a hang, or a broken promise of that kind is a finding.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/midifile.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  FuzzInitStatusLog();
  MidiFile file;
  std::string sError;
  if (!ParseMidiFile(pData, nSize, &file, &sError)) {
    if (sError.empty()) __builtin_trap();
    return 0;
  }
  if (!(file.dLength >= 0) || !std::isfinite(file.dLength) || file.nTracks < 1) __builtin_trap();
  double dLast = 0;
  for (const MidiFileEvent& e : file.aevent) {
    uint32_t uStatus = e.uMessage & 0xFF;
    if (uStatus < 0x80 || uStatus >= 0xF0 || (e.uMessage >> 24) != 0 || (e.uMessage & 0x808000) != 0) __builtin_trap();
    if (!(e.dSeconds >= dLast) || e.dSeconds > file.dLength) __builtin_trap();
    dLast = e.dSeconds;
  }
  return 0;
}
