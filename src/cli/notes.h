// Notes given on the command line (--note KEY[:VEL[:START[:LEN]]]), shared by render and play.
#pragma once

#include <string>
#include <vector>

struct NoteSpec {
  int iKey;
  double dVelocity, dStart, dLength;  // velocity 0..1; times in seconds; length < 0: held
};

// Parses every --note value; false with the message (naming the option's text) in *psError. Notes
// may overlap on one key, as a sequencer may send them: see NoteEvents.
bool ParseNotes(const std::vector<std::string>& asNotes, std::vector<NoteSpec>* panote, std::string* psError);

// A note on (dVelocity > 0) or a note off (dVelocity 0) of a command-line note.
struct NoteEvent {
  double dTime;
  int iKey;
  double dVelocity;
};

// The notes as a keyboard or sequencer sends them, in time order: a note on for a key that is
// already down is a second note on (the patch's Retrigger decides), and each note off is sent at
// its time. At one instant the note offs go first, so that a note ending where the next one on
// its key begins releases only itself; simultaneous note ons keep the command line's order.
std::vector<NoteEvent> NoteEvents(const std::vector<NoteSpec>& anote);
