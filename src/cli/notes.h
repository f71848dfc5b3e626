// Notes given on the command line (--note KEY[:VEL[:START[:LEN]]]), shared by render and play.
#pragma once

#include <string>
#include <vector>

struct NoteSpec {
  int iKey;
  double dVelocity, dStart, dLength;  // velocity 0..1; times in seconds; length < 0: held
};

// Parses every --note value and refuses two notes that overlap on the same key; false with the
// message (naming the option's text) in *psError.
bool ParseNotes(const std::vector<std::string>& asNotes, std::vector<NoteSpec>* panote, std::string* psError);
