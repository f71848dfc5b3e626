// The growable array used for every list in the system; every index is checked.
#pragma once

#include <cstdlib>
#include <new>
#include <utility>

#include "foundation/akstatus.h"

// Elements are value-initialised (zero for plain records) when the array grows, never shrunk by
// SetSize, and moved when the storage is reallocated. The construction site is kept so that a
// failed check or a leak can be traced to the array's owner.
template <class T>
class AKArray {
 public:
  explicit AKArray(const char* pszFile = __builtin_FILE(), int iLine = __builtin_LINE())
      : pszFile_(pszFile), iLine_(iLine) {}
  AKArray(const AKArray&) = delete;
  AKArray& operator=(const AKArray&) = delete;
  AKArray(AKArray&& o) noexcept { Swap(o); }
  AKArray& operator=(AKArray&& o) noexcept {
    Swap(o);
    return *this;
  }
  ~AKArray() {
    Destroy(0, iUsed);
    ::operator delete(pElems_, std::align_val_t(alignof(T)));
  }

  int iUsed = 0;

  int N() const { return iUsed; }

  void SetSize(int n) {
    if (n < 0) AKS(AKSError, pszFile_, iLine_, "%s", "i >= 0");
    if (n <= iUsed) return;
    if (n > nCapacity_) {
      int nNew = nCapacity_ == 0 ? 1 : nCapacity_;
      while (nNew < n) nNew *= 2;
      Reallocate(nNew);
    }
    for (int i = iUsed; i < n; ++i) new (&pElems_[i]) T();
    iUsed = n;
  }

  T& Add() {
    SetSize(iUsed + 1);
    return pElems_[iUsed - 1];
  }
  T& Add(T value) {
    T& elem = Add();
    elem = std::move(value);
    return elem;
  }

  T& operator[](int i) {
    Check(i);
    return pElems_[i];
  }
  const T& operator[](int i) const {
    Check(i);
    return pElems_[i];
  }
  T& Last() { return (*this)[iUsed - 1]; }

  // Emptying keeps the storage.
  void Empty() {
    Destroy(0, iUsed);
    iUsed = 0;
  }

  // Removes element i, keeping the order of the rest.
  void Remove(int i) {
    Check(i);
    for (int j = i; j + 1 < iUsed; ++j) pElems_[j] = std::move(pElems_[j + 1]);
    Destroy(iUsed - 1, iUsed);
    --iUsed;
  }

  // Inserts a value before element i (i == N() appends).
  T& Insert(int i, T value) {
    if (i < 0 || i > iUsed) AKS(AKSError, pszFile_, iLine_, "%s", "i >= 0 && i <= iUsed");
    Add();
    for (int j = iUsed - 1; j > i; --j) pElems_[j] = std::move(pElems_[j - 1]);
    pElems_[i] = std::move(value);
    return pElems_[i];
  }

  // Makes room for n elements without changing N(), so that later growth up to n keeps addresses.
  void Reserve(int n) {
    if (n > nCapacity_) Reallocate(n);
  }
  // Drops the elements from n on (n not above N()).
  void Truncate(int n) {
    if (n < 0 || n > iUsed) AKS(AKSError, pszFile_, iLine_, "%s", "n >= 0 && n <= iUsed");
    Destroy(n, iUsed);
    iUsed = n;
  }
  int Capacity() const { return nCapacity_; }
  T* begin() { return pElems_; }
  T* end() { return pElems_ + iUsed; }
  const T* begin() const { return pElems_; }
  const T* end() const { return pElems_ + iUsed; }

 private:
  void Check(int i) const {
    if (i < 0 || i >= iUsed) AKS(AKSError, pszFile_, iLine_, "%s", "i >= 0 && i < iUsed");
  }
  void Reallocate(int nNew) {
    T* pNew = static_cast<T*>(::operator new(sizeof(T) * static_cast<size_t>(nNew), std::align_val_t(alignof(T))));
    for (int i = 0; i < iUsed; ++i) {
      new (&pNew[i]) T(std::move(pElems_[i]));
      pElems_[i].~T();
    }
    ::operator delete(pElems_, std::align_val_t(alignof(T)));
    pElems_ = pNew;
    nCapacity_ = nNew;
  }
  void Destroy(int iFrom, int iTo) {
    for (int i = iFrom; i < iTo; ++i) pElems_[i].~T();
  }
  void Swap(AKArray& o) {
    std::swap(pElems_, o.pElems_);
    std::swap(nCapacity_, o.nCapacity_);
    std::swap(iUsed, o.iUsed);
    std::swap(pszFile_, o.pszFile_);
    std::swap(iLine_, o.iLine_);
  }

  T* pElems_ = nullptr;
  int nCapacity_ = 0;
  const char* pszFile_ = nullptr;
  int iLine_ = 0;
};
