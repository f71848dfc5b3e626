// Choosing the MIDI input from what a user typed: a port's number, its name (exactly, else the
// one port whose name contains it), or "virtual" for the port other programs connect to.
#pragma once

#include <string>

class MidiInputDevice;

// Opens the chosen port on the device (whose list is filled here). 0 when a port is open;
// -1 with the reason in *psError when none matched or the port did not open.
int OpenChosenMidiInput(MidiInputDevice& midi, const std::string& sChoice, std::string* psError);
