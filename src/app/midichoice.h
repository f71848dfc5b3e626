// Choosing the MIDI input from what a user typed: a port's number, its name (exactly, else the
// one port whose name contains it), or "virtual" for the port other programs connect to.
#pragma once

#include <string>

class MidiInputDevice;

// Opens the chosen port on the device (whose list is filled here). 0 when a port is open; -1
// when none matched (the reason in *psError) or the port did not open (the device's status line
// says why; *psError stays empty).
int OpenChosenMidiInput(MidiInputDevice& midi, const std::string& sChoice, std::string* psError);
