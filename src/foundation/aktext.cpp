// The growable text buffer: capacity starts at 32 bytes and grows fourfold.
#include "foundation/aktext.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void AKText::Init() {
  Free();
  Reserve(1);
}

void AKText::Free() {
  free(pszText_);
  pszText_ = nullptr;
  nLength_ = nCapacity_ = 0;
}

void AKText::Reserve(size_t nNeeded) {
  if (nCapacity_ >= nNeeded && pszText_) return;
  size_t nNew = nCapacity_ ? nCapacity_ : 32;
  while (nNew < nNeeded) nNew *= 4;
  char* p = static_cast<char*>(realloc(pszText_, nNew));
  if (!pszText_) p[0] = 0;
  pszText_ = p;
  nCapacity_ = nNew;
}

void AKText::Append(const char* psz, size_t n) {
  Reserve(nLength_ + n + 1);
  memcpy(pszText_ + nLength_, psz, n);
  nLength_ += n;
  pszText_[nLength_] = 0;
}

void AKText::Append(const char* psz) {
  if (!pszText_) Init();
  if (psz) Append(psz, strlen(psz));
}

void AKText::AppendFormatV(const char* pszFormat, va_list args) {
  if (!pszText_) Init();
  // The scratch buffer starts at 32 bytes and grows fourfold until the result fits.
  size_t nScratch = 32;
  for (;;) {
    Reserve(nLength_ + nScratch);
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(pszText_ + nLength_, nScratch, pszFormat, copy);
    va_end(copy);
    if (n < 0) {
      pszText_[nLength_] = 0;
      return;
    }
    if (static_cast<size_t>(n) < nScratch) {
      nLength_ += static_cast<size_t>(n);
      return;
    }
    while (nScratch <= static_cast<size_t>(n)) nScratch *= 4;
  }
}

void AKText::AppendFormat(const char* pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  AppendFormatV(pszFormat, args);
  va_end(args);
}

void AKText::AppendChar(char ch) {
  if (!pszText_) Init();
  if (ch) Append(&ch, 1);
}

const char* AKText::Text() {
  if (!pszText_) Init();
  return pszText_;
}

void AKText::Empty() {
  if (!pszText_) Init();
  nLength_ = 0;
  pszText_[0] = 0;
}
