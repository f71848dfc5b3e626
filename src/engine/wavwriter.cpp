// WAV output through libsndfile.
#include "wavwriter.h"

#include <sndfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

WavWriter::~WavWriter() { Abandon(); }

bool WavWriter::Open(const std::string& sPath, int nChannels, int iRate, bool bFloat) {
  sPath_ = sPath;
  sTemp_ = sPath + ".part" + std::to_string(getpid());
  SF_INFO info = {};
  info.samplerate = iRate;
  info.channels = nChannels;
  info.format = SF_FORMAT_WAV | (bFloat ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
  psf_ = sf_open(sTemp_.c_str(), SFM_WRITE, &info);
  if (!psf_) {
    sError = sf_strerror(nullptr);
    return false;
  }
  return true;
}

bool WavWriter::Write(const int16_t* as, long nFrames) {
  if (sf_writef_short(psf_, as, nFrames) == nFrames) return true;
  sError = sf_strerror(psf_);
  return false;
}

bool WavWriter::Write(const float* af, long nFrames) {
  if (sf_writef_float(psf_, af, nFrames) == nFrames) return true;
  sError = sf_strerror(psf_);
  return false;
}

bool WavWriter::Close() {
  if (!psf_) return false;
  int iResult = sf_close(psf_);
  psf_ = nullptr;
  if (iResult != 0) {
    sError = sf_error_number(iResult);
    unlink(sTemp_.c_str());
    return false;
  }
  if (rename(sTemp_.c_str(), sPath_.c_str()) != 0) {
    sError = strerror(errno);
    unlink(sTemp_.c_str());
    return false;
  }
  return true;
}

void WavWriter::Abandon() {
  if (!psf_) return;
  sf_close(psf_);
  psf_ = nullptr;
  unlink(sTemp_.c_str());
}
