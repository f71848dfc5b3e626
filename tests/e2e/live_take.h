// What the live tests check in a take or in what a JACK port carried: the pitch over the
// stretches that sound, and whether a gap is one the engine owned up to.
#pragma once

#include <cmath>
#include <cstddef>
#include <string>

// A loaded machine can starve the engine even on a real-time thread (a sanitizer build renders
// a voice in a fifth of the time it has, and a container may refuse real-time priority): the
// device then plays silence. What the engine promises is that this is never silent: it says
// "The engine cannot keep up". A gap is a fault only when the run did not say so.
inline bool EngineSaidItWasLate(const std::string& sErr) { return sErr.find("cannot keep up") != std::string::npos; }

// Rising zero crossings per second over [iFrom, iTo) of a signal read by at(i), counting only the
// stretches that sound: runs of more than kSilentRun zero samples (gaps) are left out, with the
// steps into and out of them. A sine is 0 for one sample at a time at most.
template <class At>
double SoundingFrequency(At at, long iFrom, long iTo, int iRate) {
  constexpr long kSilentRun = 2;
  long nSteps = 0, nRun = 0, iStart = iFrom;
  int nCrossings = 0;
  auto stretch = [&](long iA, long iB) {  // the samples [iA, iB) sound
    for (long i = iA + 1; i < iB; ++i) nCrossings += at(i - 1) < 0 && at(i) >= 0;
    nSteps += iB > iA ? iB - iA - 1 : 0;
  };
  for (long i = iFrom; i < iTo; ++i) {
    if (at(i) != 0) {
      if (nRun > kSilentRun) iStart = i;
      nRun = 0;
    } else if (++nRun == kSilentRun + 1) {
      stretch(iStart, i - kSilentRun);
    }
  }
  if (nRun <= kSilentRun) stretch(iStart, iTo);
  return nSteps ? static_cast<double>(nCrossings) * iRate / static_cast<double>(nSteps) : 0;
}
