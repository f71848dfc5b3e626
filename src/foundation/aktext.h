// A growable, always terminated text buffer.
#pragma once

#include <cstdarg>
#include <cstddef>

class AKText {
 public:
  AKText() = default;
  AKText(const AKText&) = delete;
  AKText& operator=(const AKText&) = delete;
  ~AKText() { Free(); }

  void Init();  // capacity 32, empty
  void Free();
  void Append(const char* psz);
  void Append(const char* psz, size_t n);
  void AppendFormat(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
  void AppendFormatV(const char* pszFormat, va_list args);
  void AppendChar(char ch);
  size_t Length() const { return nLength_; }
  const char* Text();
  void Empty();

 private:
  void Reserve(size_t nNeeded);
  char* pszText_ = nullptr;
  size_t nLength_ = 0;
  size_t nCapacity_ = 0;
};
