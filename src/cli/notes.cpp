// Parsing of command-line notes.
#include "cli/notes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Parses KEY[:VEL[:START[:LEN]]].
bool ParseNote(const std::string& s, NoteSpec* pnote, std::string* psError) {
  double ad[4] = {0, 0.5, 0, -1};
  size_t iStart = 0;
  for (int i = 0; i < 4; ++i) {
    size_t iColon = s.find(':', iStart);
    std::string sPart = s.substr(iStart, iColon == std::string::npos ? std::string::npos : iColon - iStart);
    if (!sPart.empty() || i == 0) {
      char* pszEnd;
      ad[i] = strtod(sPart.c_str(), &pszEnd);
      if (sPart.empty() || *pszEnd || !std::isfinite(ad[i])) {
        *psError = "--note " + s + ": \"" + sPart + "\" is not a number";
        return false;
      }
    }
    if (iColon == std::string::npos) break;
    iStart = iColon + 1;
    if (i == 3) {
      *psError = "--note " + s + ": expected KEY[:VEL[:START[:LEN]]]";
      return false;
    }
  }
  if (ad[0] != std::floor(ad[0]) || ad[0] < 0 || ad[0] > 127) {
    *psError = "--note " + s + ": the key must be a MIDI note number from 0 to 127";
    return false;
  }
  if (ad[1] <= 0 || ad[1] > 1) {
    *psError = "--note " + s + ": the velocity must be above 0 and at most 1";
    return false;
  }
  if (ad[2] < 0) {
    *psError = "--note " + s + ": the start must not be negative";
    return false;
  }
  size_t nParts = static_cast<size_t>(std::count(s.begin(), s.end(), ':'));
  if (nParts == 3 && ad[3] <= 0) {
    *psError = "--note " + s + ": the length must be above 0 seconds";
    return false;
  }
  *pnote = {static_cast<int>(ad[0]), ad[1], ad[2], nParts == 3 ? ad[3] : -1};
  return true;
}

}  // namespace

bool ParseNotes(const std::vector<std::string>& asNotes, std::vector<NoteSpec>* panote, std::string* psError) {
  std::vector<NoteSpec>& anote = *panote;
  anote.clear();
  for (const std::string& s : asNotes) {
    NoteSpec note;
    if (!ParseNote(s, &note, psError)) return false;
    anote.push_back(note);
  }
  return true;
}

std::vector<NoteEvent> NoteEvents(const std::vector<NoteSpec>& anote) {
  std::vector<NoteEvent> aevent;
  for (const NoteSpec& note : anote) {
    aevent.push_back({note.dStart, note.iKey, note.dVelocity});
    if (note.dLength > 0) aevent.push_back({note.dStart + note.dLength, note.iKey, 0});
  }
  // Times are compared to the microsecond, so that 0.1 + 0.2 and 0.3 are one instant.
  auto micros = [](double d) { return std::nearbyint(d * 1e6); };
  std::stable_sort(aevent.begin(), aevent.end(), [&](const NoteEvent& a, const NoteEvent& b) {
    if (micros(a.dTime) != micros(b.dTime)) return micros(a.dTime) < micros(b.dTime);
    return a.dVelocity == 0 && b.dVelocity > 0;
  });
  return aevent;
}
