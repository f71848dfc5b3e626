// WAV files of rendered or recorded audio, written completely or not at all.
#pragma once

#include <cstdint>
#include <string>

struct sf_private_tag;

// Writes to a temporary file and moves it into place on Close, so that a failed or interrupted
// render never leaves a partial file under the name asked for. Only a regular file is ever
// replaced: a symlink's target is written (the temporary file sits beside the target), a device,
// FIFO or socket is written through in place on Close, and a directory is refused by Open.
class WavWriter {
 public:
  WavWriter() = default;
  ~WavWriter();
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  // 16-bit PCM, or 32-bit float with bFloat. Answers false with the reason in sError.
  bool Open(const std::string& sPath, int nChannels, int iRate, bool bFloat);
  bool Write(const int16_t* as, long nFrames);
  bool Write(const float* af, long nFrames);
  // Finishes the file and moves (or copies) it into place.
  bool Close();
  // Deletes the unfinished file.
  void Abandon();
  // Rewrites the header's sizes to cover what was written so far, so that the unfinished file
  // plays (up to here) whatever happens to the process next.
  bool UpdateHeader();
  // Finishes what was written, even after a failed write, and moves it into place: a live take
  // keeps what it holds. When it cannot be moved, the file stays where it was written and
  // sError names it.
  bool Keep();
  // The unfinished file while one is open, so that a signal handler can remove it (the text
  // stays put until Close or Abandon).
  const char* TempPath() const { return psf_ ? sTemp_.c_str() : nullptr; }
  std::string sError;

 private:
  sf_private_tag* psf_ = nullptr;
  std::string sPath_, sTemp_;
  bool bSpecial_ = false;  // the target is a device, FIFO or socket: copy into it, never rename

  bool Finish(bool bKeepPartial);
  bool WriteFailed();
};

// Where writing sPath really lands: the final target of a chain of symlinks (a dangling link's
// target is created there, as any program writing through the link would). Answers false with the
// reason in sError for a directory or a link chain that does not end. bSpecial says whether the
// target exists and is something other than a regular file.
bool ResolveOutputPath(const std::string& sPath, std::string& sTarget, bool& bSpecial, std::string& sError);
