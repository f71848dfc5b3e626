// The text form of configurations: the reader with its line numbers and warnings, and the writer.
//
// The reader works byte by byte. A line is classified by its first byte: a line end is an empty
// line; other white space starts a blank line, an indented comment or a continuation of the
// pending value; "#" or ";" starts a comment; "[" a section header; anything else a variable.
#include <algorithm>
#include <cstring>
#include <string>

#include "foundation/akconfig.h"
#include "foundation/akstatus.h"

namespace {

bool IsWhite(int ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r'; }
bool IsLineEnd(int ch) { return ch == '\n' || ch == '\r'; }

class TextReader {
 public:
  TextReader(AKConfig_T* pconfRoot, FILE* pfile) : pconfRoot_(pconfRoot), pconfCurrent_(pconfRoot), pfile_(pfile) {}

  // Answers the line at which reading stopped on a malformed line, 0 when the whole file was read.
  int Read() {
    while (ReadLine()) {
    }
    StorePending();
    return iLineStopped_;
  }

 private:
  // The next byte; vertical tabs are dropped with a warning and line feeds count lines.
  int Next() {
    for (;;) {
      int ch = iPushed_ != kNone ? iPushed_ : getc(pfile_);
      iPushed_ = kNone;
      if (ch == '\v') {
        AKS(AKSWarn, AK_HERE, "line %d: skipping vertical tab", iLine_);
        continue;
      }
      if (ch == '\n') ++iLine_;
      return ch;
    }
  }
  // Reading ends early at a malformed line; what follows it is never read.
  bool Stop(int iLine) {
    iLineStopped_ = std::max(iLine, 1);
    return false;
  }
  // Puts back a byte that is not a line feed (so the line count stays right).
  void Unget(int ch) { iPushed_ = ch; }

  void SkipToLineEnd() {
    int ch;
    while ((ch = Next()) != EOF && ch != '\n' && ch != '\r') {
    }
  }

  void StorePending() {
    if (!bPending_) return;
    bPending_ = false;
    if (AKConfigFindVar(pconfCurrent_, sName_.c_str()))
      AKS(AKSWarn, AK_HERE, "line %d: %s:%s - variable duplicated; last version takes precedence", iNameLine_,
          pconfCurrent_->pszName, sName_.c_str());
    AKConfigSetLine(pconfCurrent_, sName_.c_str(), sValue_.c_str(), iNameLine_);
  }

  // Reads the rest of a value line (up to a line end or the end of the file) onto sValue_.
  void ReadValueRest(int ch) {
    while (ch != EOF && !IsLineEnd(ch)) {
      sValue_.push_back(static_cast<char>(ch));
      ch = Next();
    }
  }

  // Answers false when reading ends.
  bool ReadLine() {
    int ch = Next();
    if (IsLineEnd(ch)) return true;
    if (ch != EOF && IsWhite(ch)) return ReadIndented();
    StorePending();
    if (ch == EOF) return false;
    if (ch == '#' || ch == ';') {
      SkipToLineEnd();
      return true;
    }
    if (ch == '[') return ReadHeader();
    return ReadVariable(ch);
  }

  bool ReadIndented() {
    int ch;
    do ch = Next();
    while (ch != EOF && IsWhite(ch) && !IsLineEnd(ch));
    if (IsLineEnd(ch)) return true;
    if (ch == EOF) return false;
    if (ch == '#' || ch == ';') {
      SkipToLineEnd();
      return true;
    }
    if (!bPending_) {
      AKS(AKSWarn, AK_HERE, "line %d: found continued value but no variable", iLine_);
      return Stop(iLine_);
    }
    ReadValueRest(ch);
    return true;
  }

  bool ReadHeader() {
    std::string sName;
    int ch;
    while ((ch = Next()) != ']') {
      if (ch == EOF || IsWhite(ch)) {
        // A line feed that ended the name was counted; the header was on the line before.
        int iLineHeader = ch == '\n' ? iLine_ - 1 : iLine_;
        AKS(AKSWarn, AK_HERE, "line %d: %s - didn't end correctly", iLineHeader, sName.c_str());
        return Stop(iLineHeader);
      }
      sName.push_back(static_cast<char>(ch));
    }
    if (sName.empty()) {
      AKS(AKSWarn, AK_HERE, "line %d: no section name", iLine_);
      return Stop(iLine_);
    }
    AKConfig_T* pconf = pconfRoot_;
    size_t iStart = 0;
    for (int nDepth = 1;; ++nDepth) {
      if (nDepth > AKConfigMaxDepth) {
        AKS(AKSWarn, AK_HERE, "line %d: sections nested deeper than %d levels", iLine_, AKConfigMaxDepth);
        return Stop(iLine_);
      }
      size_t iDot = sName.find('.', iStart);
      std::string sPart = sName.substr(iStart, iDot == std::string::npos ? std::string::npos : iDot - iStart);
      pconf = AKConfigGetSubLine(pconf, sPart.c_str(), iLine_);
      if (iDot == std::string::npos) break;
      iStart = iDot + 1;
    }
    pconfCurrent_ = pconf;
    return true;
  }

  bool ReadVariable(int ch) {
    sName_.clear();
    int iNameLine = iLine_;
    while (ch != EOF && !IsWhite(ch) && ch != '=') {
      sName_.push_back(static_cast<char>(ch));
      ch = Next();
    }
    while (ch != EOF && IsWhite(ch)) ch = Next();
    if (ch != '=') {
      AKS(AKSWarn, AK_HERE, "line %d: %s:%s - no equals after variable", iNameLine, pconfCurrent_->pszName,
          sName_.c_str());
      AKConfigSetLine(pconfCurrent_, sName_.c_str(), "", iNameLine);
      return Stop(iNameLine);
    }
    bPending_ = true;
    iNameLine_ = iNameLine;
    sValue_.clear();
    do ch = Next();
    while (ch != EOF && IsWhite(ch));
    if (ch == EOF) return false;
    ReadValueRest(ch);
    return true;
  }

  static constexpr int kNone = -2;
  AKConfig_T* pconfRoot_;
  AKConfig_T* pconfCurrent_;
  FILE* pfile_;
  int iLine_ = 1;
  int iPushed_ = kNone;
  bool bPending_ = false;
  std::string sName_, sValue_;
  int iNameLine_ = 0;
  int iLineStopped_ = 0;
};

int WriteSection(AKConfig_T* pconf, FILE* pfile, const std::string& sDotted) {
  int nWidth = 0;
  for (AKConfigVar_T& var : pconf->avar) nWidth = std::max(nWidth, static_cast<int>(strlen(var.pszName)));
  for (AKConfigVar_T& var : pconf->avar)
    if (fprintf(pfile, "%-*.*s = %s\n", nWidth, nWidth, var.pszName, var.pszValue ? var.pszValue : "") < 0) return -1;
  if (pconf->apconfSub.N() > 0 && fputs("\n", pfile) == EOF) return -1;
  for (AKConfig_T* pconfSub : pconf->apconfSub) {
    std::string sName = sDotted.empty() ? std::string(pconfSub->pszName) : sDotted + "." + pconfSub->pszName;
    if (fprintf(pfile, "[%s]\n\n", sName.c_str()) < 0) return -1;
    if (WriteSection(pconfSub, pfile, sName) < 0) return -1;
  }
  return 0;
}

}  // namespace

int AKConfigReadText(AKConfig_T* pconfRoot, FILE* pfile) { return TextReader(pconfRoot, pfile).Read(); }

int AKConfigWriteText(AKConfig_T* pconf, FILE* pfile) { return WriteSection(pconf, pfile, ""); }
