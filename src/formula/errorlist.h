// The error list: every message meant for the patch author, sorted by text, repeats counted.
#pragma once

#include <algorithm>
#include <mutex>

#include "foundation/akarray.h"

struct ErrorListNode {
  char* psz;                // the message (owned)
  const char* pszFile;      // reporting source file, as the caller passed it
  int iCount;               // how often this exact text was added
  int iSrcLine;             // reporting source line
  int iLine;                // the patch line concerned, -1 for none
  const char* pszLineFile;  // the file iLine is a line of when that is a sub-patch or package
                            // the patch includes; null for the patch's own lines
};

class ErrorList {
 public:
  // The one list of the program, created on first use.
  static ErrorList* Get();

  // Formats (cut at 4095 characters) and adds a message; a repeated text only counts up, so
  // reports raised every sample stay cheap and allocate nothing after the first. Bytes a
  // terminal would act on are kept as \xHH escapes. iLine may be a position (below).
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
  // Lines of the files a patch includes (sub-patches, packages) travel as positions: the file's
  // base plus the line. So a line number alone, as every variable record and module keeps it,
  // tells which file it belongs to, and each message raised at it (while loading, compiling or
  // playing) names that file. The patch's own lines are plain numbers (base 0).
  static constexpr int kLineSpan = 1 << 22;  // lines per file: room for 510 files in an int
  // The base of a file's positions, the same for every call with the same path; 0 when the
  // table is full (the file's lines then read as the patch's own).
  int FileBase(const char* pszPath);
  // The line of a file's position, kept within the file's span.
  static int Position(int iBase, int iLine) { return iLine < 0 ? iLine : iBase + std::min(iLine, kLineSpan - 1); }
  // The file of a position (null for the patch's own lines) and, through piLine, its line.
  const char* Locate(int iPosition, int* piLine);

  // The built-in self-test: ends the process with status 0 when it passes.
  [[noreturn]] static void SelfTest();

  AKArray<ErrorListNode> anode;

  ~ErrorList();

 private:
  ErrorList() = default;
  const char* LocateLocked(int iPosition, int* piLine) const;
  bool bUpdated_ = false;
  AKArray<char*> apszLineFile_;  // the files with positions, owned; file i has base (i + 1) * kLineSpan
  std::mutex mutex_;
};

// Adds a message at a patch line (-1 for none), with this source file and line.
#define ERRADD(iLine, ...) ErrorList::Get()->Add(__FILE__, __LINE__, (iLine), __VA_ARGS__)
