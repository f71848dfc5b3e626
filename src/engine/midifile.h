// Standard MIDI Files (format 0 and 1): the channel messages of every track at their times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct MidiFileEvent {
  double dSeconds;    // from the start of the file, after the tempo map
  uint32_t uMessage;  // packed short message: status, data 1, data 2
};

struct MidiFile {
  int iFormat = 0;
  int nTracks = 0;
  std::vector<MidiFileEvent> aevent;  // sorted by time; simultaneous events keep file order
  double dLength = 0;                 // time of the last event, end-of-track markers included
};

// Parses a file's bytes; on failure answers false with a reason such as "track 2 is truncated".
bool ParseMidiFile(const uint8_t* pData, size_t nSize, MidiFile* pfile, std::string* psError);
bool ReadMidiFile(const std::string& sPath, MidiFile* pfile, std::string* psError);
