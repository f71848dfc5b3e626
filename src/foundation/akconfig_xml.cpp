// The XML form of configurations: a reader for the attribute-free subset the writer produces.
//
// Elements holding elements are sections, elements holding text are variables. The reader keeps an
// explicit stack of open sections instead of recursing, so deep nesting cannot exhaust the stack.
#include <cstring>
#include <string>
#include <vector>

#include "foundation/akconfig.h"
#include "foundation/akstatus.h"

namespace {

bool IsWhite(int ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r'; }
bool IsPrintable(int ch) { return ch >= 33 && ch <= 126; }

// A decoded character: bMarkup is false for characters produced by an entity.
struct XChar {
  int ch;
  bool bMarkup;
  bool Is(int c) const { return bMarkup && ch == c; }
};

class XmlReader {
 public:
  XmlReader(AKConfig_T* pconfRoot, FILE* pfile) : pconfRoot_(pconfRoot), pfile_(pfile) {}

  void Read() {
    struct Open {
      AKConfig_T* pconf;
      std::string sName;
    };
    std::vector<Open> stack;
    AKConfig_T* pconf = pconfRoot_;
    while (!bFailed_) {
      bool bInside = !stack.empty();
      XChar x = SkipWhite();
      if (x.ch == EOF) {
        if (bInside) Fail("expected closing tag");
        return;
      }
      if (!x.Is('<')) {
        Fail(bInside ? "expected left-carat for opening or closing tag" : "expected left-carat for opening tag");
        return;
      }
      x = SkipWhite();
      if (x.Is('/')) {
        if (!bInside) {
          Fail("expected opening tag");
          return;
        }
        std::string sFound = ReadName(Get());
        if (sFound != stack.back().sName) {
          Fail("expected closing tag \"%s\", found \"%s\"", stack.back().sName.c_str(), sFound.c_str());
          return;
        }
        if (!ExpectAfterWhite('>', "expected right-carat for closing tag")) return;
        stack.pop_back();
        pconf = stack.empty() ? pconfRoot_ : stack.back().pconf;
        continue;
      }
      if (x.Is('>') || x.ch == EOF) {
        Fail(bInside ? "expected opening or closing tag" : "expected opening tag");
        return;
      }
      std::string sName = ReadName(x);
      if (!ExpectAfterWhite('>', "expected right-carat for opening tag")) return;
      // The element's leading white space belongs to a variable's text.
      std::string sText;
      for (x = Get(); x.ch != EOF && IsWhite(x.ch); x = Get()) sText.push_back(static_cast<char>(x.ch));
      if (x.Is('<')) {
        XChar y = Get();
        Unget(y);
        if (!y.Is('/')) {
          if (static_cast<int>(stack.size()) >= AKConfigMaxDepth) {
            Fail("sections nested deeper than %d levels", AKConfigMaxDepth);
            return;
          }
          Unget(x);
          pconf = AKConfigGetSubLine(pconf, sName.c_str(), -1);
          stack.push_back({pconf, sName});
          continue;
        }
        // An empty element yields nothing; its closing tag follows.
      } else {
        for (; x.ch != EOF && !x.Is('<'); x = Get()) sText.push_back(static_cast<char>(x.ch));
        AKConfigSetLine(pconf, sName.c_str(), sText.c_str(), -1);
      }
      if (!ExpectAfterWhite('/', "expected forward slash")) return;
      std::string sClose = ReadName(SkipWhite());
      if (sClose != sName) {
        Fail("opening tag \"%s\" doesn't match closing tag \"%s\"", sName.c_str(), sClose.c_str());
        return;
      }
      if (!ExpectAfterWhite('>', "expected right-carat for closing tag")) return;
    }
  }

 private:
  // The next character through the entity decoder.
  XChar Get() {
    if (!vPushed_.empty()) {
      XChar x = vPushed_.back();
      vPushed_.pop_back();
      return x;
    }
    int ch = getc(pfile_);
    if (ch != '&') return {ch, true};
    char szName[10];
    int n = 0;
    for (;;) {
      int c = getc(pfile_);
      if (c == ';') break;
      if (c == EOF || n == 8) {
        // Nine characters, or the end of the file, without the closing semicolon.
        if (c != EOF) szName[n++] = static_cast<char>(c);
        szName[n] = 0;
        AKS(AKSTrace, AK_HERE, "XML escape code \"&%s\" too long or unterminated; returning '?'", szName);
        return {'?', false};
      }
      szName[n++] = static_cast<char>(c);
    }
    szName[n] = 0;
    static const struct {
      const char* psz;
      char ch;
    } aEntities[] = {{"quot", '"'}, {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"apos", '\''}};
    for (const auto& e : aEntities)
      if (strcmp(szName, e.psz) == 0) return {e.ch, false};
    AKS(AKSTrace, AK_HERE, "unknown XML escape code \"&%s;\" ; returning '?'", szName);
    return {'?', false};
  }
  void Unget(XChar x) { vPushed_.push_back(x); }

  XChar SkipWhite() {
    XChar x = Get();
    while (x.ch != EOF && IsWhite(x.ch)) x = Get();
    return x;
  }

  // Printable characters up to ">"; the first character is given, the one after is put back.
  std::string ReadName(XChar x) {
    std::string s;
    while (IsPrintable(x.ch) && !x.Is('>')) {
      s.push_back(static_cast<char>(x.ch));
      x = Get();
    }
    Unget(x);
    return s;
  }

  bool ExpectAfterWhite(int ch, const char* pszError) {
    if (SkipWhite().Is(ch)) return true;
    Fail(pszError);
    return false;
  }

  // Malformed XML is fatal; if the process goes on (no action configured), reading stops.
  template <class... A>
  void Fail(const char* pszFormat, A... args) {
    bFailed_ = true;
    if constexpr (sizeof...(args) == 0) AKS(AKSFatal, AK_HERE, "%s", pszFormat);
    else AKS(AKSFatal, AK_HERE, pszFormat, args...);
  }

  AKConfig_T* pconfRoot_;
  FILE* pfile_;
  std::vector<XChar> vPushed_;
  bool bFailed_ = false;
};

void Escape(std::string& s, const char* psz) {
  for (const char* p = psz ? psz : ""; *p; ++p) {
    switch (*p) {
      case '"': s += "&quot;"; break;
      case '&': s += "&amp;"; break;
      case '<': s += "&lt;"; break;
      case '>': s += "&gt;"; break;
      case '\'': s += "&apos;"; break;
      default: s.push_back(*p);
    }
  }
}

}  // namespace

void AKConfigReadXml(AKConfig_T* pconfRoot, FILE* pfile) { XmlReader(pconfRoot, pfile).Read(); }

int AKConfigWriteXml(AKConfig_T* pconf, FILE* pfile, int nIndent) {
  for (AKConfigVar_T& var : pconf->avar) {
    std::string s(static_cast<size_t>(nIndent), ' ');
    s += "<";
    Escape(s, var.pszName);
    s += ">";
    Escape(s, var.pszValue);
    s += "</";
    Escape(s, var.pszName);
    s += ">\n";
    if (fwrite(s.data(), 1, s.size(), pfile) != s.size()) return -1;
  }
  for (AKConfig_T* pconfSub : pconf->apconfSub) {
    if (fprintf(pfile, "%*s<%s>\n", nIndent, "", pconfSub->pszName) < 0) return -1;
    if (AKConfigWriteXml(pconfSub, pfile, nIndent + 4) < 0) return -1;
    if (fprintf(pfile, "%*s</%s>\n", nIndent, "", pconfSub->pszName) < 0) return -1;
  }
  return 0;
}
