// WAV output through libsndfile.
#include "engine/wavwriter.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

// The kernel's own limit on links followed in one path look-up.
constexpr int kMaxLinks = 40;

bool ResolveOutputPath(const std::string& sPath, std::string& sTarget, bool& bSpecial, std::string& sError) {
  fs::path path = sPath;
  bSpecial = false;
  for (int i = 0;; ++i) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) break;  // not there yet: it will be created
    if (!S_ISLNK(st.st_mode)) {
      if (S_ISDIR(st.st_mode)) {
        sError = "is a directory";
        return false;
      }
      bSpecial = !S_ISREG(st.st_mode);
      break;
    }
    if (i == kMaxLinks) {
      sError = "too many levels of symbolic links";
      return false;
    }
    std::error_code ec;
    fs::path link = fs::read_symlink(path, ec);
    if (ec) {
      sError = ec.message();
      return false;
    }
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  sTarget = path.string();
  return true;
}

WavWriter::~WavWriter() { Abandon(); }

bool WavWriter::Open(const std::string& sPath, int nChannels, int iRate, bool bFloat) {
  if (!ResolveOutputPath(sPath, sPath_, bSpecial_, sError)) return false;
  if (bSpecial_) {
    // A device or FIFO gets the finished file in one stream; the temporary file cannot sit
    // beside it (that would be /dev), so it goes to the temporary folder.
    const char* pszTmp = getenv("TMPDIR");
    std::string sTemplate = std::string(pszTmp && *pszTmp ? pszTmp : "/tmp") + "/vantrel-XXXXXX.wav";
    int fd = mkstemps(sTemplate.data(), 4);
    if (fd < 0) {
      sError = std::string("cannot create a temporary file: ") + strerror(errno);
      return false;
    }
    close(fd);
    sTemp_ = sTemplate;
  } else {
    sTemp_ = sPath_ + ".part" + std::to_string(getpid());
  }
  SF_INFO info = {};
  info.samplerate = iRate;
  info.channels = nChannels;
  info.format = SF_FORMAT_WAV | (bFloat ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
  psf_ = sf_open(sTemp_.c_str(), SFM_WRITE, &info);
  if (!psf_) {
    sError = sf_strerror(nullptr);
    if (bSpecial_) unlink(sTemp_.c_str());
    return false;
  }
  return true;
}

bool WavWriter::Write(const int16_t* as, long nFrames) {
  errno = 0;
  if (sf_writef_short(psf_, as, nFrames) == nFrames) return true;
  return WriteFailed();
}

bool WavWriter::Write(const float* af, long nFrames) {
  errno = 0;
  if (sf_writef_float(psf_, af, nFrames) == nFrames) return true;
  return WriteFailed();
}

bool WavWriter::WriteFailed() {
  // The system's words ("No space left on device") say more than the library's "System error".
  sError = errno != 0 ? strerror(errno) : sf_strerror(psf_);
  return false;
}

namespace {

// Streams the finished file into a device or FIFO, which is opened as it is: never created,
// truncated or replaced.
bool CopyInto(const std::string& sFrom, const std::string& sTo, std::string& sError) {
  int fdIn = open(sFrom.c_str(), O_RDONLY | O_CLOEXEC);
  if (fdIn < 0) {
    sError = strerror(errno);
    return false;
  }
  int fdOut = open(sTo.c_str(), O_WRONLY | O_CLOEXEC);
  if (fdOut < 0) {
    sError = strerror(errno);
    close(fdIn);
    return false;
  }
  char ab[65536];
  bool bOk = true;
  for (;;) {
    ssize_t n = read(fdIn, ab, sizeof ab);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) sError = strerror(errno), bOk = false;
      break;
    }
    for (ssize_t iDone = 0; iDone < n;) {
      ssize_t m = write(fdOut, ab + iDone, static_cast<size_t>(n - iDone));
      if (m < 0 && errno == EINTR) continue;
      if (m <= 0) {
        sError = m < 0 ? strerror(errno) : "nothing could be written";
        bOk = false;
        break;
      }
      iDone += m;
    }
    if (!bOk) break;
  }
  close(fdIn);
  if (close(fdOut) != 0 && bOk) sError = strerror(errno), bOk = false;
  return bOk;
}

}  // namespace

bool WavWriter::Close() { return Finish(false); }

bool WavWriter::Keep() { return Finish(true); }

bool WavWriter::Finish(bool bKeepPartial) {
  if (!psf_) return false;
  int iResult = sf_close(psf_);
  psf_ = nullptr;
  if (iResult != 0 && !bKeepPartial) {
    sError = sf_error_number(iResult);
    unlink(sTemp_.c_str());
    return false;
  }
  // A take that hit a full disk still has a valid header: it was rewritten in place, which
  // needs no new space.
  bool bOk = bSpecial_ ? CopyInto(sTemp_, sPath_, sError) : rename(sTemp_.c_str(), sPath_.c_str()) == 0;
  if (!bOk && !bSpecial_) sError = strerror(errno);
  if (bOk || !bKeepPartial) unlink(sTemp_.c_str());
  else sError += "; what was recorded is kept in " + sTemp_;
  return bOk;
}

bool WavWriter::UpdateHeader() {
  if (!psf_) return false;
  return sf_command(psf_, SFC_UPDATE_HEADER_NOW, nullptr, 0) == 0;
}

void WavWriter::Abandon() {
  if (!psf_) return;
  sf_close(psf_);
  psf_ = nullptr;
  unlink(sTemp_.c_str());
}
