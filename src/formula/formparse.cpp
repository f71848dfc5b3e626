// The formula parser: expressions of operands and infix operators, terms, suffixes and names.
//
// A mistake never throws: the result is one error node whose stretch marks the offending text.
// Names resolve against the variable table as it stands after each callback, because the caller
// may append records (and move the table) while resolving.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formula/formenum.h"
#include "formula/formfn.h"
#include "formula/formnames.h"
#include "formula/formparse.h"
#include "foundation/akquark.h"
#include "foundation/akstring.h"

namespace {

constexpr int kMaxOperands = 59;     // one more is "this formula is too long to parse"
constexpr int kMaxWord = 511;        // longer words are refused
constexpr int kMaxString = 1023;     // characters kept of a string constant
constexpr int kMaxModuleName = 256;  // the buffer an inline module's name is written into
// Nested expressions (parentheses, arguments, unary minus) beyond this are "too long": the parser
// and everything that walks its trees recurse, and the stack must not run out.
constexpr int kMaxNesting = 200;

bool IsWordChar(char ch) { return isalnum(static_cast<unsigned char>(ch)) || ch == '_'; }
bool IsWhite(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r'; }
bool IsPunct(char ch) { return ispunct(static_cast<unsigned char>(ch)); }
bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

// Length of a note name at p (A-G, optional # or b, octave -1 to 10), or 0.
int NoteNameLength(const char* p) {
  const char* q = p;
  if (*q < 'A' || *q > 'G') return 0;
  ++q;
  if (*q >= 'A' && *q <= 'G') return 0;  // two letters: not a note name
  if (*q == '#' || *q == 'b') {
    ++q;
    if (*q == '#' || *q == 'b') return 0;
  }
  const char* pszNumber = q;
  if (*q == '-') ++q;
  if (!IsDigit(*q)) return 0;
  long iOctave = strtol(pszNumber, const_cast<char**>(&q), 10);
  if (iOctave < -1 || iOctave > 10) return 0;
  return static_cast<int>(q - p);
}

// Length of the word at p: a note name (optionally after "NoteDown") or a run of word characters.
int WordLength(const char* p) {
  if (strncmp(p, "NoteDown", 8) == 0)
    if (int n = NoteNameLength(p + 8)) return 8 + n;
  if (int n = NoteNameLength(p)) return n;
  int n = 0;
  while (IsWordChar(p[n])) ++n;
  return n;
}

// Variable names: the first character exactly, the rest ignoring case.
bool VarNameEqual(const char* pszA, const char* pszB) {
  if (!pszA || !pszB) return false;
  if (pszA[0] != pszB[0]) return false;
  return pszA[0] == 0 || AKstricmp(pszA + 1, pszB + 1) == 0;
}

using Span = std::pair<const char*, const char*>;  // a stretch of the formula's text

struct Word {
  const char* pszStart = nullptr;
  int nLength = 0;
  std::string s;
  int iHistory = 0;
  const char* pszEnd = nullptr;  // after the word and its history suffix
};

class Parser {
 public:
  Parser(const FormParseContext& ctx)
      : ctx_(ctx), p_(ctx.pszText), ppavarTable_(ctx.ppavarTable), ppavarForbidden_(ctx.ppavarVoice),
        iLevel_(ctx.iLevel), iLevelParent_(ctx.iLevelParent) {}

  Form* Parse() {
    if (!ctx_.pszText || !*ctx_.pszText) return FormNewError(FormTypeErrNoFormula, p_, p_);
    Form* pform = Expression();
    if (!FormIsError(pform) && *p_) {
      FormFree(pform);
      int et = *p_ == ',' ? FormTypeErrStraySeparator : *p_ == ')' ? FormTypeErrStrayRightParen : FormTypeErrUnknownInfix;
      return FormNewError(et, p_, p_);
    }
    if (!FormIsError(pform) && ctx_.bNumberWanted && FormResultType(pform, Table()) == FormTypeString) {
      FormFree(pform);
      const char* pszStart = ctx_.pszText;
      while (IsWhite(*pszStart)) ++pszStart;
      return FormNewError(FormTypeErrArgumentType, pszStart, TrimmedEnd(pszStart, p_));
    }
    return pform;
  }
  const char* Position() const { return p_; }

 private:
  Var* Table() const { return ppavarTable_ ? *ppavarTable_ : nullptr; }
  Var* Forbidden() const { return ppavarForbidden_ ? *ppavarForbidden_ : nullptr; }
  bool Visible(const Var& var) const { return var.iLevel == 0 || var.iLevel == iLevel_; }

  void SkipWhite() {
    while (IsWhite(*p_)) ++p_;
  }
  bool AtExpressionEnd() const { return !*p_ || *p_ == ')' || *p_ == ','; }
  // The next non-blank character, without moving.
  char Peek() const {
    const char* q = p_;
    while (IsWhite(*q)) ++q;
    return *q;
  }

  Form* Error(int et, const char* pszStart, const char* pszEnd) { return FormNewError(et, pszStart, pszEnd); }

  void Resolve(const char* pszModule, const char* pszName, int iHistory) {
    if (ctx_.pfnResolve) ctx_.pfnResolve(ctx_.pvUser, pszModule, pszName, iHistory);
  }

  // The index kept for this table (the tables trade places inside SumVoices), or absent.
  FormNameIndex* IndexOf(const Var* avar) const {
    if (ctx_.ppavarTable && avar == *ctx_.ppavarTable) return ctx_.pindexTable;
    if (ctx_.ppavarVoice && avar == *ctx_.ppavarVoice) return ctx_.pindexVoice;
    return nullptr;
  }
  // Calls visit(i) on the records that may have this name, or belong to this module (each record
  // when the table has no index), in table order, until visit answers true.
  template <class Visit>
  void EachCandidate(Var* avar, const char* psz, bool bModule, Visit visit) const {
    if (FormNameIndex* pindex = IndexOf(avar)) {
      int i = bModule ? pindex->FirstInModule(avar, psz) : pindex->FirstNamed(avar, psz);
      for (; i >= 0; i = bModule ? pindex->NextInModule(i) : pindex->NextNamed(i))
        if (visit(i)) return;
      return;
    }
    for (int i = 0; avar[i].pszName; ++i)
      if (visit(i)) return;
  }

  // Index of the visible record of this module (or any module when absent), name and depth; -1.
  int FindRecord(Var* avar, const char* pszModule, const char* pszName, int iHistory) const {
    if (!avar) return -1;
    int iFound = -1;
    EachCandidate(avar, pszName, false, [&](int i) {
      const Var& var = avar[i];
      if (!Visible(var) || var.iHistory != iHistory || !VarNameEqual(var.pszName, pszName)) return false;
      if (pszModule && AKstricmp(var.pszModule, pszModule) != 0) return false;
      iFound = i;
      return true;
    });
    return iFound;
  }

  // The first visible record of this module (ignoring case), or -1.
  int FirstOfModule(Var* avar, const char* pszModule) const {
    if (!avar) return -1;
    int iFound = -1;
    EachCandidate(avar, pszModule, true, [&](int i) {
      const Var& var = avar[i];
      if (!var.pszModule || !Visible(var) || AKstricmp(var.pszModule, pszModule) != 0) return false;
      iFound = i;
      return true;
    });
    return iFound;
  }
  bool HasModule(Var* avar, const char* pszModule) const { return FirstOfModule(avar, pszModule) >= 0; }

  Word ReadWord() {
    Word w;
    w.pszStart = p_;
    w.nLength = WordLength(p_);
    w.s.assign(p_, static_cast<size_t>(w.nLength));
    const char* q = p_ + w.nLength;
    if (w.nLength > 0 && *q == '@' && IsDigit(q[1])) {
      char* pszAfter;
      long iDepth = strtol(q + 1, &pszAfter, 10);
      w.iHistory = iDepth > 1000000 ? 1000000 : static_cast<int>(iDepth);
      q = pszAfter;
    }
    w.pszEnd = q;
    return w;
  }

  Form* Expression() {
    SkipWhite();
    if (nNesting_ >= kMaxNesting) return Error(FormTypeErrFormulaTooLong, p_, nullptr);
    ++nNesting_;
    Form* pform = ExpressionBody();
    --nNesting_;
    return pform;
  }

  Form* ExpressionBody() {
    std::vector<Form*> aOperands;
    std::vector<Span> aSpans;  // each operand's text, for a type error
    std::vector<const FormFnInfo*> aOps;
    auto fail = [&](Form* pformError) {
      for (Form* pform : aOperands) FormFree(pform);
      return pformError;
    };
    for (;;) {
      if (AtExpressionEnd()) break;
      if (static_cast<int>(aOperands.size()) == kMaxOperands) return fail(Error(FormTypeErrFormulaTooLong, p_, nullptr));
      const char* pszOperand = p_;
      Form* pform = Operand();
      if (FormIsError(pform)) return fail(pform);
      if (!aOperands.empty() && pform->et == FormTypeFn && FormFnIsExponentialUnit(pform->u.fn.pinfo)) {
        // An exponential unit scales: "+" multiplies by it and "-" divides by it.
        const FormFnInfo*& pinfoOp = aOps.back();
        if (pinfoOp == &FormFnRowAdd) {
          pinfoOp = &FormFnRowMultiply;
        } else if (pinfoOp == &FormFnRowSubtract) {
          pinfoOp = &FormFnRowDivide;
        } else {
          FormFree(pform);
          return fail(Error(FormTypeErrExponentialUnit, pszOperand, p_));
        }
      }
      aOperands.push_back(pform);
      aSpans.push_back({pszOperand, TrimmedEnd(pszOperand, p_)});
      SkipWhite();
      if (!*p_ || strchr("),]}", *p_)) break;
      const char* pszOp = p_;
      if (isalpha(static_cast<unsigned char>(*p_))) {
        while (isalpha(static_cast<unsigned char>(*p_))) ++p_;
      } else if (IsPunct(*p_) && *p_ != '"' && *p_ != '\'') {
        ++p_;
        // A comma also ends a symbol, so that f(1 +, 2) drops the dangling operator.
        while (IsPunct(*p_) && !strchr(".+-()'\",", *p_)) ++p_;
      }
      const FormFnInfo* pinfo = FormFnFindOp(pszOp, static_cast<int>(p_ - pszOp));
      if (!pinfo || p_ == pszOp) return fail(Error(FormTypeErrUnknownInfix, pszOp, p_));
      aOps.push_back(pinfo);
      SkipWhite();
    }
    if (aOperands.empty()) return Error(FormTypeErrNoFormula, p_, p_);
    aOps.resize(aOperands.size() - 1);  // an operator before the end is dropped
    // Combine the leftmost operator that binds at least as tightly as both its neighbours.
    while (aOperands.size() > 1) {
      size_t k = 0;
      for (; k < aOps.size(); ++k) {
        int iPrec = aOps[k]->iPrecedence;
        bool bLeft = k == 0 || iPrec >= aOps[k - 1]->iPrecedence;
        bool bRight = k + 1 == aOps.size() || iPrec >= aOps[k + 1]->iPrecedence;
        if (bLeft && bRight) break;
      }
      Form* pform = FormNewFn(aOps[k], 0, 2);
      FormAddArg(pform, aOperands[k]);
      FormAddArg(pform, aOperands[k + 1]);
      aOperands.erase(aOperands.begin() + static_cast<long>(k) + 1);
      aOps.erase(aOps.begin() + static_cast<long>(k));
      Span spanBoth = {aSpans[k].first, aSpans[k + 1].second};
      pform = CheckKinds(pform, {aSpans[k], aSpans[k + 1]});
      aSpans.erase(aSpans.begin() + static_cast<long>(k) + 1);
      aSpans[k] = spanBoth;
      if (FormIsError(pform)) {
        aOperands.erase(aOperands.begin() + static_cast<long>(k));
        return fail(pform);
      }
      aOperands[k] = pform;
    }
    return aOperands[0];
  }

  Form* Operand() {
    const char* pszStart = p_;
    Form* pform = Term();
    if (FormIsError(pform)) return pform;
    char chOpen = Peek();
    if (chOpen == '[' || chOpen == '{') {
      SkipWhite();
      pform = Range(pform, pszStart);
      if (FormIsError(pform)) return pform;
    }
    if (isalpha(static_cast<unsigned char>(Peek()))) {
      const char* pszSaved = p_;
      SkipWhite();
      int n = WordLength(p_);
      if (const FormFnInfo* pinfo = FormFnFindUnit(p_, n)) {
        p_ += n;
        Form* pformUnit = FormNewFn(pinfo, 0, 1);
        FormAddArg(pformUnit, pform);
        pform = CheckKinds(pformUnit, {{pszStart, TrimmedEnd(pszStart, pszSaved)}});
        if (FormIsError(pform)) return pform;
        SkipWhite();
      } else {
        p_ = pszSaved;
      }
    }
    return pform;
  }

  // A range suffix: term[lo, hi] scales linearly, term{lo, hi} exponentially.
  Form* Range(Form* pformTerm, const char* pszStart) {
    char chClose = *p_ == '[' ? ']' : '}';
    Form* pform = FormNewFn(*p_ == '[' ? &FormFnRowLinScale : &FormFnRowExpScale, 0, 3);
    FormAddArg(pform, pformTerm);
    ++p_;
    for (int nBounds = 1;; ++nBounds) {
      Form* pformBound = Expression();
      if (FormIsError(pformBound)) {
        FormFree(pform);
        return pformBound;
      }
      FormAddArg(pform, pformBound);
      if (*p_ == ',') {
        if (nBounds == 2) {
          FormFree(pform);
          return Error(FormTypeErrArgumentCount, pszStart, p_ + 1);
        }
        ++p_;
        continue;
      }
      if (*p_ == chClose) {
        ++p_;
        break;
      }
      FormFree(pform);
      if (*p_) return Error(FormTypeErrBadArgumentEnd, p_, p_ + 1);
      return Error(FormTypeErrUnmatchedLeftParen, pszStart, p_);
    }
    if (pform->u.fn.pinfo->pfnCheck(pform) != FormCheckOk) {
      pform->u.err.pszStart = pszStart;
      pform->u.err.pszEnd = p_;
    }
    return pform;
  }

  Form* Term() {
    const char* pszStart = p_;
    // A number: digits, a point, or a sign before either.
    if (IsDigit(*p_) || *p_ == '.' || ((*p_ == '+' || *p_ == '-') && (IsDigit(p_[1]) || p_[1] == '.'))) {
      if (int n = NumberLength(p_)) {
        std::string s(p_, static_cast<size_t>(n));
        p_ += n;
        return FormNewConstant(FormTypeNumeric, strtod(s.c_str(), nullptr));
      }
    }
    Word w = ReadWord();
    if (w.nLength > kMaxWord) {
      p_ = w.pszEnd;
      return Error(FormTypeErrWordTooLong, w.pszStart, w.pszStart + w.nLength);
    }
    if (w.nLength && (AKstricmp(w.s.c_str(), "true") == 0 || AKstricmp(w.s.c_str(), "false") == 0)) {
      p_ = w.pszEnd;
      return FormNewConstant(FormTypeNumeric, AKstricmp(w.s.c_str(), "true") == 0 ? 1 : 0);
    }
    if (*p_ == '"') return String();
    if (w.nLength) {
      int iKeyword = FormEnumLookup(w.s.c_str(), true);
      if (iKeyword >= 0) {
        p_ = w.pszEnd;
        return FormNewConstant(FormTypeKeyword, iKeyword);
      }
    }
    const char* pszAfter = w.pszEnd;
    while (IsWhite(*pszAfter)) ++pszAfter;
    bool bParen = w.nLength && *pszAfter == '(';
    if (w.nLength && !bParen) {
      if (*pszAfter != ':')
        if (Form* pform = BareName(w)) return pform;
      if (Form* pform = ModuleReference(w)) return pform;
      if (Form* pform = ForbiddenReference(w, *pszAfter == ':')) return pform;
    }
    if (!w.nLength && *p_ == '-') {
      ++p_;
      const char* pszArg = p_;
      Form* pformArg = Expression();
      if (FormIsError(pformArg)) return pformArg;
      Form* pform = FormNewFn(&FormFnUnaryMinus, 0, 1);
      FormAddArg(pform, pformArg);
      return CheckKinds(pform, {{pszArg, TrimmedEnd(pszArg, p_)}});
    }
    if (!w.nLength && *p_ == '(') {
      ++p_;
      Form* pform = Expression();
      if (FormIsError(pform)) return pform;
      if (*p_ != ')') {
        FormFree(pform);
        return Error(FormTypeErrUnmatchedLeftParen, pszStart, p_);
      }
      ++p_;
      return pform;
    }
    if (w.nLength) {
      if (const FormFnInfo* pinfo = FormFnFind(w.s.c_str())) return Call(pinfo, w);
      if (ctx_.pfnIsModuleType && ctx_.pfnIsModuleType(w.s.c_str())) return InlineModule(w);
      p_ = w.pszEnd;
      return Error(bParen ? FormTypeErrUnknownFunction : FormTypeErrUnknownName, w.pszStart, w.pszStart + w.nLength);
    }
    if (IsPunct(*p_)) {
      while (IsPunct(*p_)) ++p_;
    } else if (*p_) {
      ++p_;
    }
    return Error(FormTypeErrBadTerm, pszStart, p_);
  }

  // The longest decimal number at p: sign, digits, point, digits, exponent; 0 when none.
  static int NumberLength(const char* p) {
    const char* q = p;
    if (*q == '+' || *q == '-') ++q;
    int nDigits = 0;
    while (IsDigit(*q)) ++q, ++nDigits;
    if (*q == '.') {
      ++q;
      while (IsDigit(*q)) ++q, ++nDigits;
    }
    if (!nDigits) return 0;
    if (*q == 'e' || *q == 'E') {
      const char* r = q + 1;
      if (*r == '+' || *r == '-') ++r;
      if (IsDigit(*r)) {
        while (IsDigit(*r)) ++r;
        q = r;
      }
    }
    return static_cast<int>(q - p);
  }

  Form* String() {
    const char* pszStart = p_;
    std::string s;
    for (++p_;; ++p_) {
      if (!*p_) return Error(FormTypeErrUnterminatedString, pszStart, p_);
      if (*p_ == '"') {
        if (p_[1] != '"') break;
        ++p_;  // a doubled quote mark stands for one
      }
      if (s.size() < kMaxString) s.push_back(*p_);
    }
    ++p_;
    return FormNewConstant(FormTypeString, FormStringValue(AKQuark(s.c_str())));
  }

  // A bare variable name: the current module's variable first, else the one module that has it.
  Form* BareName(const Word& w) {
    Resolve(nullptr, w.s.c_str(), 0);
    const char* pszModule = nullptr;
    if (FindRecord(Table(), ctx_.pszModule, w.s.c_str(), 0) >= 0) {
      pszModule = ctx_.pszModule;
    } else {
      Var* avar = Table();
      if (!avar) return nullptr;
      int iFound = -1;
      bool bTwice = false;
      EachCandidate(avar, w.s.c_str(), false, [&](int i) {
        const Var& var = avar[i];
        if (!Visible(var) || var.iHistory != 0 || !VarNameEqual(var.pszName, w.s.c_str())) return false;
        bTwice = iFound >= 0;
        iFound = i;
        return bTwice;
      });
      if (bTwice) {
        p_ = w.pszEnd;
        return Error(FormTypeErrNotUnique, w.pszStart, w.pszStart + w.nLength);
      }
      if (iFound < 0) return nullptr;
      pszModule = avar[iFound].pszModule;
    }
    std::string sModule = pszModule ? pszModule : "";
    if (w.iHistory) Resolve(sModule.c_str(), w.s.c_str(), w.iHistory);
    p_ = w.pszEnd;
    int i = FindRecord(Table(), sModule.c_str(), w.s.c_str(), w.iHistory);
    if (i < 0) return Error(FormTypeErrInternal, w.pszStart, w.pszStart + w.nLength);
    return FormNewRef(i);
  }

  // After a word or a module's closing parenthesis: ":" and a variable name, or "Output".
  // Answers false (with *pform an error) when the colon has no name after it.
  bool VariableAfterModule(std::string* psName, int* piHistory, Form** ppformError) {
    const char* q = p_;
    while (IsWhite(*q)) ++q;
    if (*q != ':') {
      *psName = "Output";
      return true;
    }
    p_ = q + 1;
    SkipWhite();
    Word wVar = ReadWord();
    if (!wVar.nLength) {
      *ppformError = Error(FormTypeErrColonNeedsVariable, q, p_);
      return false;
    }
    *psName = wVar.s;
    if (wVar.iHistory) *piHistory = wVar.iHistory;
    p_ = wVar.pszEnd;
    return true;
  }

  Form* ModuleReference(const Word& w) {
    int iFirst = FirstOfModule(Table(), w.s.c_str());
    if (iFirst < 0) return nullptr;
    // The section's own spelling of the module name, for the callback.
    std::string sModule = Table()[iFirst].pszModule;
    p_ = w.pszEnd;
    std::string sName;
    int iHistory = w.iHistory;
    Form* pformError = nullptr;
    if (!VariableAfterModule(&sName, &iHistory, &pformError)) return pformError;
    Resolve(sModule.c_str(), sName.c_str(), iHistory);
    int i = FindRecord(Table(), sModule.c_str(), sName.c_str(), iHistory);
    if (i < 0) return Error(FormTypeErrUnknownName, w.pszStart, p_);
    return FormNewRef(i);
  }

  // In a per-patch formula, per-voice variables and modules may only be reached through SumVoices.
  Form* ForbiddenReference(const Word& w, bool bColon) {
    Var* avar = Forbidden();
    if (!avar) return nullptr;
    if (!bColon && FindRecord(avar, nullptr, w.s.c_str(), 0) >= 0) {
      p_ = w.pszEnd;
      return Error(FormTypeErrPerVoiceReference, w.pszStart, p_);
    }
    if (HasModule(avar, w.s.c_str())) {
      p_ = w.pszEnd;
      std::string sName;
      int iHistory = w.iHistory;
      Form* pformError = nullptr;
      if (!VariableAfterModule(&sName, &iHistory, &pformError)) return pformError;
      Resolve(w.s.c_str(), sName.c_str(), iHistory);
      return Error(FormTypeErrPerVoiceReference, w.pszStart, p_);
    }
    return nullptr;
  }

  // Arguments between parentheses; p_ is at "(". Each argument's text span is kept when asked.
  Form* Arguments(Form* pformCall, const char* pszCallStart, std::vector<Span>* paSpans = nullptr) {
    ++p_;
    SkipWhite();
    if (*p_ == ')') {
      ++p_;
      return nullptr;
    }
    for (;;) {
      SkipWhite();
      const char* pszArg = p_;
      Form* pformArg = Expression();
      if (FormIsError(pformArg)) return pformArg;
      if (pformCall->u.fn.nArg == FormMaxArgs) {
        FormFree(pformArg);
        return Error(FormTypeErrArgumentCount, pszCallStart, p_);
      }
      if (paSpans) paSpans->push_back({pszArg, TrimmedEnd(pszArg, p_)});
      FormAddArg(pformCall, pformArg);
      if (*p_ == ',') {
        ++p_;
        continue;
      }
      if (*p_ == ')') {
        ++p_;
        return nullptr;
      }
      return Error(FormTypeErrBadArgumentEnd, p_, p_);
    }
  }

  Form* Call(const FormFnInfo* pinfo, const Word& w) {
    const char* pszStart = w.pszStart;
    bool bSumVoices = pinfo == &FormFnRowSumVoices;
    bool bSuper = pinfo == &FormFnRowSuper;
    p_ = w.pszStart + w.nLength;
    if (bSumVoices && !ppavarForbidden_) return Error(FormTypeErrPatchOnlyFunction, pszStart, p_);
    if (bSuper && iLevelParent_ == -1) return Error(FormTypeErrSuperAtTop, pszStart, p_);
    SkipWhite();
    if (*p_ != '(') return Error(FormTypeErrFunctionNeedsParen, pszStart, w.pszStart + w.nLength);
    // Inside SumVoices the per-voice table is the table; inside Super the parent level is seen.
    Var** ppavarTable = ppavarTable_;
    Var** ppavarForbidden = ppavarForbidden_;
    int iLevel = iLevel_;
    if (bSumVoices) {
      ppavarTable_ = ppavarForbidden_;
      ppavarForbidden_ = nullptr;
    }
    if (bSuper) iLevel_ = iLevelParent_;
    Form* pform = FormNewFn(pinfo, 0, 2);
    std::vector<Span> aSpans;
    Form* pformError = Arguments(pform, pszStart, &aSpans);
    ppavarTable_ = ppavarTable;
    ppavarForbidden_ = ppavarForbidden;
    iLevel_ = iLevel;
    if (pformError) {
      FormFree(pform);
      return pformError;
    }
    if (pinfo->pfnCheck && pinfo->pfnCheck(pform) != FormCheckOk) {
      pform->u.err.pszStart = pszStart;
      pform->u.err.pszEnd = p_;
      return pform;
    }
    return CheckKinds(pform, aSpans);
  }

  // A call that computes with numbers refuses a string argument, marking the argument's text.
  Form* CheckKinds(Form* pform, const std::vector<Span>& aSpans) {
    if (!FormFnWantsNumbers(pform->u.fn.pinfo)) return pform;
    for (int i = 0; i < pform->u.fn.nArg && i < static_cast<int>(aSpans.size()); ++i) {
      if (FormResultType(pform->u.fn.apformArg[i], Table()) != FormTypeString) continue;
      FormFree(pform);
      return Error(FormTypeErrArgumentType, aSpans[static_cast<size_t>(i)].first, aSpans[static_cast<size_t>(i)].second);
    }
    return pform;
  }

  static const char* TrimmedEnd(const char* pszStart, const char* pszEnd) {
    while (pszEnd > pszStart && IsWhite(pszEnd[-1])) --pszEnd;
    return pszEnd;
  }

  // A module written inline: Type(arguments) or Type(arguments):Variable.
  Form* InlineModule(const Word& w) {
    const char* pszStart = w.pszStart;
    p_ = w.pszStart + w.nLength;
    SkipWhite();
    if (*p_ != '(') return Error(FormTypeErrAnonymousNeedsParen, pszStart, w.pszStart + w.nLength);
    Form* pformArgs = FormNewFn(&FormFnUnaryMinus, 0, 2);  // only holds the parsed arguments
    std::vector<Span> aSpans;
    Form* pformError = Arguments(pformArgs, pszStart, &aSpans);
    FormFree(pformArgs);
    if (pformError) return pformError;
    std::vector<std::string> asArgs;
    for (auto& span : aSpans) asArgs.emplace_back(span.first, span.second);
    std::vector<const char*> apszArgs;
    for (std::string& s : asArgs) apszArgs.push_back(s.c_str());
    int iRejected = -1;
    char szName[kMaxModuleName] = "";
    if (ctx_.pfnAnonymous)
      ctx_.pfnAnonymous(ctx_.pvUser, w.s.c_str(), apszArgs.data(), static_cast<int>(apszArgs.size()), &iRejected,
                        szName, sizeof szName);
    if (iRejected >= 0 && iRejected < static_cast<int>(aSpans.size()))
      return Error(FormTypeErrArgumentCount, aSpans[static_cast<size_t>(iRejected)].first,
                   aSpans[static_cast<size_t>(iRejected)].second);
    std::string sName;
    int iHistory = 0;
    if (!VariableAfterModule(&sName, &iHistory, &pformError)) return pformError;
    Resolve(szName, sName.c_str(), iHistory);
    int i = szName[0] ? FindRecord(Table(), szName, sName.c_str(), iHistory) : -1;
    if (i < 0) return Error(FormTypeErrUnknownName, pszStart, p_);
    return FormNewRef(i);
  }

  const FormParseContext& ctx_;
  const char* p_;
  Var** ppavarTable_;
  Var** ppavarForbidden_;
  int iLevel_;
  int iLevelParent_;
  int nNesting_ = 0;
};

}  // namespace

double FormStringValue(const char* pszQuark) {
  return static_cast<double>(reinterpret_cast<uintptr_t>(pszQuark));
}

const char* FormStringText(double value) { return reinterpret_cast<const char*>(static_cast<uintptr_t>(value)); }

Form* FormParse(const FormParseContext& ctx, FormParseSplit* psplit) {
  Parser parser(ctx);
  Form* pform = parser.Parse();
  const char* pszText = ctx.pszText ? ctx.pszText : "";
  const char* pszEnd = pszText + strlen(pszText);
  const char* pszStart = pszEnd;
  const char* pszStop = pszEnd;
  if (FormIsError(pform)) {
    if (!pform->u.err.pszStart) pform->u.err.pszStart = parser.Position();
    if (!pform->u.err.pszEnd) pform->u.err.pszEnd = pszEnd;
    pszStart = pform->u.err.pszStart;
    pszStop = pform->u.err.pszEnd < pszStart ? pszStart : pform->u.err.pszEnd;
  }
  if (psplit) {
    psplit->sBefore.assign(pszText, pszStart);
    psplit->sStretch.assign(pszStart, pszStop);
    psplit->sAfter.assign(pszStop, pszEnd);
  }
  return pform;
}
