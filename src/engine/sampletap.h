// A tap on the engine's output: every 16-bit sample sent to the device, handed from the audio
// thread to a reader (the recorder) through a preallocated single-producer ring.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>

class SampleTap {
 public:
  // nCapacity samples (rounded up to a power of two); allocated here, never on the audio thread.
  explicit SampleTap(size_t nCapacity) {
    size_t n = 1;
    while (n < nCapacity) n <<= 1;
    nCapacity_ = n;
    as_ = std::make_unique<int16_t[]>(n);
  }

  // Audio thread: appends a whole buffer, or none of it when the reader has fallen behind (the
  // samples are then counted as lost, so that a recording with a gap is never passed off as whole).
  void Push(const int16_t* as, size_t n) {
    size_t iWrite = iWrite_.load(std::memory_order_relaxed);
    if (n > nCapacity_ - (iWrite - iRead_.load(std::memory_order_acquire))) {
      nLost_.fetch_add(n, std::memory_order_relaxed);
      return;
    }
    size_t i = iWrite & (nCapacity_ - 1);
    size_t nFirst = std::min(n, nCapacity_ - i);
    memcpy(&as_[i], as, nFirst * sizeof(int16_t));
    memcpy(&as_[0], as + nFirst, (n - nFirst) * sizeof(int16_t));
    iWrite_.store(iWrite + n, std::memory_order_release);
  }

  // Reader: copies up to nMax samples out; answers how many.
  size_t Pop(int16_t* as, size_t nMax) {
    size_t iRead = iRead_.load(std::memory_order_relaxed);
    size_t n = std::min(nMax, iWrite_.load(std::memory_order_acquire) - iRead);
    size_t i = iRead & (nCapacity_ - 1);
    size_t nFirst = std::min(n, nCapacity_ - i);
    memcpy(as, &as_[i], nFirst * sizeof(int16_t));
    memcpy(as + nFirst, &as_[0], (n - nFirst) * sizeof(int16_t));
    iRead_.store(iRead + n, std::memory_order_release);
    return n;
  }

  size_t Lost() const { return nLost_.load(std::memory_order_relaxed); }
  size_t Capacity() const { return nCapacity_; }

 private:
  size_t nCapacity_;
  std::unique_ptr<int16_t[]> as_;
  std::atomic<size_t> iWrite_{0}, iRead_{0};
  std::atomic<size_t> nLost_{0};
};
