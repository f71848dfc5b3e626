// Parsing of command-line notes.
#include "notes.h"

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
  for (size_t i = 0; i < anote.size(); ++i)
    for (size_t j = 0; j < i; ++j) {
      const NoteSpec &a = anote[j], &b = anote[i];
      if (a.iKey != b.iKey) continue;
      double dEndA = a.dLength < 0 ? INFINITY : a.dStart + a.dLength;
      double dEndB = b.dLength < 0 ? INFINITY : b.dStart + b.dLength;
      if (a.dStart < dEndB && b.dStart < dEndA) {
        *psError = "--note " + asNotes[i] + " overlaps --note " + asNotes[j] + " on the same key";
        return false;
      }
    }
  return true;
}
