// WAV files of rendered or recorded audio, written completely or not at all.
#pragma once

#include <cstdint>
#include <string>

struct sf_private_tag;

// Writes to a temporary file beside the target and renames it into place on Close, so that a
// failed or interrupted render never leaves a partial file under the name asked for.
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
  // Finishes the file and moves it into place.
  bool Close();
  // Deletes the unfinished file.
  void Abandon();
  std::string sError;

 private:
  sf_private_tag* psf_ = nullptr;
  std::string sPath_, sTemp_;
};
