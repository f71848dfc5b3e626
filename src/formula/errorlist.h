// The error list: every message meant for the patch author, sorted by text, repeats counted.
#pragma once

#include <mutex>

#include "akarray.h"

struct ErrorListNode {
  char* psz;            // the message (owned)
  const char* pszFile;  // reporting source file, as the caller passed it
  int iCount;           // how often this exact text was added
  int iSrcLine;         // reporting source line
  int iLine;            // the patch line concerned, -1 for none
};

class ErrorList {
 public:
  // The one list of the program, created on first use.
  static ErrorList* Get();

  // Formats (cut at 4095 characters) and adds a message; a repeated text only counts up, so
  // reports raised every sample stay cheap and allocate nothing after the first.
  void Add(const char* pszFile, int iSrcLine, int iLine, const char* pszFormat, ...)
      __attribute__((format(printf, 5, 6)));
  void Clear();
  // While muted, what this thread adds is dropped: a voice that repeats the first voice's set-up
  // would only count the same messages up. Other threads keep reporting.
  static void SetMuted(bool bMuted);
  // Answers whether the list changed since the last call, and clears the flag.
  bool Updated();
  // A reader holds the lock for a whole walk over anode.
  void Lock() { mutex_.lock(); }
  void Unlock() { mutex_.unlock(); }
  // The built-in self-test: ends the process with status 0 when it passes.
  [[noreturn]] static void SelfTest();

  AKArray<ErrorListNode> anode;

  ~ErrorList();

 private:
  ErrorList() = default;
  bool bUpdated_ = false;
  std::mutex mutex_;
};

// Adds a message at a patch line (-1 for none), with this source file and line.
#define ERRADD(iLine, ...) ErrorList::Get()->Add(__FILE__, __LINE__, (iLine), __VA_ARGS__)
