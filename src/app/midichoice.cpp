// The MIDI input named by number, by name or as the virtual port.
#include "app/midichoice.h"

#include <cstdlib>

#include "engine/midiinputdevice.h"

namespace {
constexpr long kMaxPortNumber = 1000000;  // beyond any port count; larger numbers are typos
}

int OpenChosenMidiInput(MidiInputDevice& midi, const std::string& sChoice, std::string* psError) {
  midi.SetSavedDefault(sChoice);
  midi.FillDeviceList();
  char* pszEnd = nullptr;
  long iNumber = strtol(sChoice.c_str(), &pszEnd, 10);
  if (sChoice == "virtual") {
    midi.OpenVirtual();
  } else if (!sChoice.empty() && *pszEnd == 0 && iNumber >= 0 && iNumber < kMaxPortNumber) {
    midi.OpenDevice(static_cast<int>(iNumber));
  } else {
    // By name: exactly (the saved default just set selects it), else the one port containing it.
    int iEntry = midi.SelectedEntry(), nMatches = 0;
    if (iEntry < 0)
      for (size_t i = 1; i < midi.Entries().size(); ++i)
        if (midi.Entries()[i].sName.find(sChoice) != std::string::npos) iEntry = static_cast<int>(i), ++nMatches;
    if (nMatches > 1) iEntry = -1;
    if (iEntry < 0) {
      if (psError) *psError = "no single MIDI input port named \"" + sChoice + "\" (see --list-devices)";
      return -1;
    }
    midi.Select(iEntry);
  }
  // A port that did not open has said why in the input's status line.
  return midi.IsOpen() ? 0 : -1;
}
