// Offline rendering, frame by frame as the engine renders: timed MIDI messages and notes applied
// to the installed patches at their frames, the frames mixed, and each buffer handed on as
// 16-bit samples through the engine's output stage or as raw floats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class AppCore;

struct OfflineMessage {
  long long iFrame;
  uint32_t uMessage;  // a packed short message, or the key of a direct note
  double dVelocity;   // a direct note: its exact velocity (0: note off)
  bool bDirect;       // true: a note on channel 1 with its own velocity rather than a message
};

struct OfflineJob {
  std::vector<OfflineMessage> amsg;  // in frame order
  long long nFrames = 0;     // at least this many frames
  long long nMaxFrames = 0;  // at most this many: between the two, until the voices fall silent
  bool bFloat = false;       // raw frames as floats rather than 16-bit output
};

// Where the buffers go; false ends the render with a failure.
class OfflineSink {
 public:
  virtual ~OfflineSink() = default;
  virtual bool Write(const int16_t* as, int nFrames) = 0;
  virtual bool Write(const float* af, int nFrames) = 0;
  // After each buffer, with the frames done; true stops the render early (an interruption).
  virtual bool Progress(long long nDone) {
    (void)nDone;
    return false;
  }
};

struct OfflineStats {
  long long nFrames = 0;  // rendered
  size_t nVoicesMax = 0;  // the most voices sounding at once on channel 1
  double dRawPeak = 0;    // the largest magnitude of the mixed frames
  int nAutoReductions = 0;
  long nNonFinite = 0;  // samples that were not numbers, silenced
  bool bStopped = false;  // Progress asked to stop
};

// Renders the patch of channel 1 (which must be installed). 0, or -1 when the sink failed.
int RenderOffline(AppCore& core, const OfflineJob& job, OfflineSink& sink, OfflineStats* pstats);
