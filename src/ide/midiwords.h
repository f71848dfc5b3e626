// The last MIDI message as the main window shows it, in words.
#pragma once

#include <cstdint>
#include <string>

// uPacked: status in bits 0-7, first data byte in 8-15, second in 16-23; 0 gives "".
std::string MidiMessageInWords(uint32_t uPacked);
