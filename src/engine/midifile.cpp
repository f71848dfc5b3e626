// A small reader of Standard MIDI Files: chunks, variable-length deltas, running status, tempo.
#include "engine/midifile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

namespace {

constexpr size_t kMaxEvents = 20000000;  // more than any real file; keeps memory bounded

struct Reader {
  const uint8_t* p;
  const uint8_t* pEnd;
  bool Has(size_t n) const { return static_cast<size_t>(pEnd - p) >= n; }
  uint32_t Be(int nBytes) {
    uint32_t u = 0;
    for (int i = 0; i < nBytes; ++i) u = u << 8 | *p++;
    return u;
  }
  // A variable-length quantity of at most four bytes; false when cut off or longer.
  bool Vlq(uint32_t* pu) {
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i) {
      if (p >= pEnd) return false;
      uint8_t b = *p++;
      u = u << 7 | (b & 0x7F);
      if (!(b & 0x80)) {
        *pu = u;
        return true;
      }
    }
    return false;
  }
};

struct TickEvent {
  uint64_t uTick;
  uint32_t uMessage;
  size_t iOrder;
};

}  // namespace

bool ParseMidiFile(const uint8_t* pData, size_t nSize, MidiFile* pfile, std::string* psError) {
  auto fail = [&](const std::string& s) {
    *psError = s;
    return false;
  };
  Reader r{pData, pData + nSize};
  if (!r.Has(14) || memcmp(r.p, "MThd", 4) != 0) return fail("not a Standard MIDI File (no MThd header)");
  r.p += 4;
  uint32_t nHeader = r.Be(4);
  if (nHeader < 6 || !r.Has(nHeader)) return fail("the MThd header is truncated");
  pfile->iFormat = static_cast<int>(r.Be(2));
  int nTracksDeclared = static_cast<int>(r.Be(2));
  uint32_t uDivision = r.Be(2);
  r.p += nHeader - 6;
  if (pfile->iFormat > 1) return fail("format " + std::to_string(pfile->iFormat) + " is not supported (only 0 and 1)");
  if (uDivision == 0) return fail("the time division is 0");
  // Seconds per tick are either tempo-relative (ticks per quarter note) or fixed (SMPTE).
  double dSmpteSecondsPerTick = 0;
  if (uDivision & 0x8000) {
    int iFps = -static_cast<int8_t>(uDivision >> 8);
    int nTicksPerFrame = static_cast<int>(uDivision & 0xFF);
    if (iFps <= 0 || nTicksPerFrame == 0) return fail("the SMPTE time division is not valid");
    dSmpteSecondsPerTick = 1.0 / ((iFps == 29 ? 29.97 : iFps) * nTicksPerFrame);
  }
  std::vector<TickEvent> aevent;
  std::map<uint64_t, uint32_t> tempo;  // tick -> microseconds per quarter note; the last at a tick wins
  uint64_t uLastTick = 0;
  int nTracks = 0;
  while (r.Has(8)) {
    bool bTrack = memcmp(r.p, "MTrk", 4) == 0;
    r.p += 4;
    uint32_t nLength = r.Be(4);
    if (!r.Has(nLength)) return fail("track " + std::to_string(nTracks + 1) + " is truncated");
    Reader t{r.p, r.p + nLength};
    r.p += nLength;
    if (!bTrack) continue;  // unknown chunks are skipped, as the format asks
    ++nTracks;
    std::string sTrack = "track " + std::to_string(nTracks);
    uint64_t uTick = 0;
    uint8_t bRunning = 0;
    bool bEnded = false;
    while (t.p < t.pEnd && !bEnded) {
      uint32_t uDelta;
      if (!t.Vlq(&uDelta)) return fail(sTrack + " has a delta time that is cut off or too long");
      uTick += uDelta;
      if (t.p >= t.pEnd) return fail(sTrack + " ends inside an event");
      uint8_t b = *t.p;
      if (b == 0xFF) {
        ++t.p;
        if (!t.Has(1)) return fail(sTrack + " ends inside a meta event");
        uint8_t bType = *t.p++;
        uint32_t nMeta;
        if (!t.Vlq(&nMeta) || !t.Has(nMeta)) return fail(sTrack + " has a meta event that is cut off");
        if (bType == 0x51 && nMeta == 3) tempo[uTick] = static_cast<uint32_t>(t.p[0] << 16 | t.p[1] << 8 | t.p[2]);
        if (bType == 0x2F) bEnded = true;
        t.p += nMeta;
        bRunning = 0;
      } else if (b == 0xF0 || b == 0xF7) {
        ++t.p;
        uint32_t nSysex;
        if (!t.Vlq(&nSysex) || !t.Has(nSysex)) return fail(sTrack + " has a system-exclusive event that is cut off");
        t.p += nSysex;  // system-exclusive data is not played
        bRunning = 0;
      } else {
        if (b & 0x80) {
          bRunning = b;
          ++t.p;
        } else if (!bRunning) {
          return fail(sTrack + " has a data byte without a status byte");
        }
        if (bRunning >= 0xF0) return fail(sTrack + " has a system message where a channel message belongs");
        int nData = (bRunning & 0xF0) == 0xC0 || (bRunning & 0xF0) == 0xD0 ? 1 : 2;
        if (!t.Has(static_cast<size_t>(nData))) return fail(sTrack + " ends inside a channel message");
        uint8_t d1 = t.p[0], d2 = nData == 2 ? t.p[1] : 0;
        if ((d1 | d2) & 0x80) return fail(sTrack + " has a data byte above 127");
        t.p += nData;
        if (aevent.size() >= kMaxEvents) return fail("the file has more than 20000000 events");
        aevent.push_back({uTick, static_cast<uint32_t>(bRunning) | static_cast<uint32_t>(d1) << 8 |
                                     static_cast<uint32_t>(d2) << 16,
                          aevent.size()});
      }
    }
    uLastTick = std::max(uLastTick, uTick);
  }
  if (nTracks == 0) return fail("the file has no MTrk chunk");
  if (nTracks < nTracksDeclared) return fail("the file has " + std::to_string(nTracks) + " of its " +
                                             std::to_string(nTracksDeclared) + " tracks");
  pfile->nTracks = nTracks;
  std::stable_sort(aevent.begin(), aevent.end(), [](const TickEvent& a, const TickEvent& b) { return a.uTick < b.uTick; });
  // Ticks to seconds through the tempo map (default 120 beats per minute). The ticks asked for
  // never decrease, so the map is walked once: a file of many tempo changes and many notes costs
  // their sum, not their product.
  auto itTempo = tempo.begin();
  double dAt = 0;  // the time of tick uAt, where tempo uTempo began
  uint64_t uAt = 0;
  uint32_t uTempo = 500000;
  auto seconds = [&](uint64_t uTick) {
    if (dSmpteSecondsPerTick > 0) return static_cast<double>(uTick) * dSmpteSecondsPerTick;
    for (; itTempo != tempo.end() && itTempo->first < uTick; ++itTempo) {
      dAt += static_cast<double>(itTempo->first - uAt) * uTempo * 1e-6 / uDivision;
      uAt = itTempo->first;
      uTempo = itTempo->second;
    }
    return dAt + static_cast<double>(uTick - uAt) * uTempo * 1e-6 / uDivision;
  };
  pfile->aevent.clear();
  pfile->aevent.reserve(aevent.size());
  for (const TickEvent& e : aevent) pfile->aevent.push_back({seconds(e.uTick), e.uMessage});
  pfile->dLength = seconds(uLastTick);
  return true;
}

bool ReadMidiFile(const std::string& sPath, MidiFile* pfile, std::string* psError) {
  FILE* pf = fopen(sPath.c_str(), "rb");
  if (!pf) {
    *psError = strerror(errno);
    return false;
  }
  std::vector<uint8_t> ab;
  uint8_t a[65536];
  for (size_t n; (n = fread(a, 1, sizeof a, pf)) > 0;) ab.insert(ab.end(), a, a + n);
  fclose(pf);
  return ParseMidiFile(ab.data(), ab.size(), pfile, psError);
}
