// The patch editor's text rules: sameness, line kinds, status, save text, history names,
// error stretches, section types and completion.
#include "ide/patchtext.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "foundation/akstatus.h"
#include "foundation/akstring.h"
#include "patch/moduletype.h"

namespace {

constexpr size_t kMaxTitle = 255;  // the longest tab title
constexpr int kHistoryStampLength = 15;  // "YYYYMMDD-HHMMSS"

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }
bool IsWordChar(char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::string Trim(const std::string& s) {
  size_t iStart = s.find_first_not_of(" \t\r");
  if (iStart == std::string::npos) return "";
  size_t iEnd = s.find_last_not_of(" \t\r");
  return s.substr(iStart, iEnd - iStart + 1);
}

// Splits "NAME = VALUE" (white space around both); false for a line without "=".
bool SplitAssignment(const std::string& sLine, std::string* psName, std::string* psValue) {
  size_t iEquals = sLine.find('=');
  if (iEquals == std::string::npos) return false;
  *psName = Trim(sLine.substr(0, iEquals));
  *psValue = Trim(sLine.substr(iEquals + 1));
  return true;
}

// The line of the section header at or above iLine, or -1.
int SectionHeaderAbove(const std::vector<std::string>& asLine, int iLine) {
  for (int i = std::min(iLine, static_cast<int>(asLine.size()) - 1); i >= 0; --i)
    if (PatchLineKindOf(asLine[static_cast<size_t>(i)]) == PatchLineKind::Header) return i;
  return -1;
}

ModuleType* SectionModuleType(const std::vector<std::string>& asLine, int iLine) {
  int iHeader = SectionHeaderAbove(asLine, iLine);
  if (iHeader < 0) return nullptr;
  std::string sHeader = Trim(asLine[static_cast<size_t>(iHeader)]);
  size_t iClose = sHeader.find(']');
  std::string sSection = Trim(sHeader.substr(1, iClose == std::string::npos ? std::string::npos : iClose - 1));
  ModuleFactory* pfactory = ModuleFactory::Get();
  for (size_t i = static_cast<size_t>(iHeader) + 1; i < asLine.size(); ++i) {
    if (PatchLineKindOf(asLine[i]) == PatchLineKind::Header) break;
    std::string sName, sValue;
    if (PatchLineKindOf(asLine[i]) == PatchLineKind::Other && SplitAssignment(asLine[i], &sName, &sValue) &&
        AKstricmp(sName.c_str(), "ModuleType") == 0)
      return pfactory->Lookup(sValue.c_str());
  }
  // Without "ModuleType" the first type whose name begins the section name.
  for (ModuleType* ptype : pfactory->aptype)
    if (strncmp(ptype->pszName, sSection.c_str(), strlen(ptype->pszName)) == 0) return ptype;
  return nullptr;
}

const char* KindWord(int type) {
  switch (type) {
    case 2: return "text";
    case 4: return "boolean";
    case 16: return "keyword";
    default: return "number";
  }
}

const char* CapWord(int classMax) {
  static const char* const apsz[] = {"no limit", "constant", "per-patch", "per-voice", "per-note", "per-sample"};
  return classMax >= 0 && classMax <= 5 ? apsz[classMax] : "?";
}

}  // namespace

int PatchTabIcon(bool bPatch, int iCompileState, bool bNotSaved) {
  if (!bPatch) return 6 + (bNotSaved ? 1 : 0);
  int iState = iCompileState >= kCompiledOk && iCompileState <= kEditedSinceCompile ? iCompileState : kCompiledOk;
  return iState * 2 + (bNotSaved ? 1 : 0);
}

std::string PatchStatusText(bool bPatch, int iCompileState, bool bNotSaved) {
  static const char* const apszCompile[] = {"compiled OK", "compiled with ERRORS", "edited since compile"};
  const char* pszCompile = "(no compilation status for packages)";
  if (bPatch && iCompileState >= kCompiledOk && iCompileState <= kEditedSinceCompile) pszCompile = apszCompile[iCompileState];
  return std::string(bNotSaved ? "NOT SAVED!" : "saved") + " ... " + pszCompile;
}

bool PatchTextSame(const std::string& sA, const std::string& sB) {
  size_t iA = 0, iB = 0;
  while (iA < sA.size() && iB < sB.size()) {
    bool bControlA = IsControl(sA[iA]), bControlB = IsControl(sB[iB]);
    if (bControlA && bControlB) {
      while (iA < sA.size() && IsControl(sA[iA])) ++iA;
      while (iB < sB.size() && IsControl(sB[iB])) ++iB;
      continue;
    }
    if (sA[iA] != sB[iB]) return false;
    ++iA;
    ++iB;
  }
  return iA == sA.size() && iB == sB.size();
}

PatchLineKind PatchLineKindOf(const std::string& sLine) {
  size_t i = sLine.find_first_not_of(" \t\r\f\v");
  if (i == std::string::npos) return PatchLineKind::Other;
  if (sLine[i] == '#' || sLine[i] == ';') return PatchLineKind::Comment;
  if (sLine[i] == '[') return PatchLineKind::Header;
  return PatchLineKind::Other;
}

PatchLineStyle PatchLineStyleOf(PatchLineKind kind, bool bError) {
  PatchLineStyle style{false, 200, false, 0, 0, 0};
  if (kind == PatchLineKind::Comment) style = {false, 200, false, 153, 0, 153};
  if (kind == PatchLineKind::Header) style = {true, 240, true, 0, 0, 153};
  if (bError) style.iRed = 255, style.iGreen = 0, style.iBlue = 0;
  return style;
}

std::string PatchTextForSave(const std::string& sText) {
  std::string s = sText;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r') {
      s[i] = '\n';
    } else if (s[i] == '\v') {
      s[i] = '\n';
      unsigned iFollow = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
      AKS(AKSWarn, AK_HERE, "overwriting VT, follow is %02x", iFollow);
    }
  }
  return s;
}

std::string PatchFileTitle(const std::string& sPath) {
  size_t iSlash = sPath.find_last_of('/');
  std::string s = iSlash == std::string::npos ? sPath : sPath.substr(iSlash + 1);
  if (s.size() > kMaxTitle) s.resize(kMaxTitle);
  size_t iDot = s.find_last_of('.');
  if (iDot != std::string::npos) s.resize(iDot);
  return s;
}

HistoryRefusal PatchHistoryPath(const std::string& sHistoryDir, const std::string& sPath, const struct tm& tmLocal,
                                std::string* psHistory) {
  // The extension's dot is in the file name: a dot in a folder name is no extension.
  size_t iSlash = sPath.find_last_of('/');
  size_t iDot = sPath.find_last_of('.');
  if (iDot == std::string::npos || (iSlash != std::string::npos && iDot < iSlash)) return HistoryRefusal::NoExtension;
  std::string sStem = sPath.substr(0, iDot);
  // A name that already ends in a time stamp would grow a second one at every apply.
  if (sStem.size() > kHistoryStampLength) {
    const char* psz = sStem.c_str() + sStem.size() - kHistoryStampLength;
    bool bStamp = psz[8] == '-';
    for (int i = 0; i < kHistoryStampLength && bStamp; ++i)
      if (i != 8 && !isdigit(static_cast<unsigned char>(psz[i]))) bStamp = false;
    if (bStamp) return HistoryRefusal::HistoryFile;
  }
  if (iSlash == std::string::npos) return HistoryRefusal::NoFolder;
  char sz[64];
  snprintf(sz, sizeof sz, "-%04d%02d%02d-%02d%02d%02d.", tmLocal.tm_year + 1900, tmLocal.tm_mon + 1, tmLocal.tm_mday,
           tmLocal.tm_hour, tmLocal.tm_min, tmLocal.tm_sec);
  *psHistory = sHistoryDir + sPath.substr(iSlash, iDot - iSlash) + sz + sPath.substr(iDot + 1);
  return HistoryRefusal::None;
}

bool PatchErrorStretch(const std::string& sMessage, const std::string& sLine, int* piColumn, int* piLength) {
  size_t iOpen = sMessage.find(" >>> ");
  size_t iClose = sMessage.find(" <<< ", iOpen == std::string::npos ? 0 : iOpen);
  if (iOpen == std::string::npos || iClose == std::string::npos || sMessage.empty() || sMessage.back() != ')')
    return false;
  std::string sStretch = sMessage.substr(iOpen + 5, iClose - iOpen - 5);
  std::string sAfter = sMessage.substr(iClose + 5, sMessage.size() - iClose - 6);
  // The text before begins after one of the "(" ahead of ">>>"; the formula may hold others, so
  // the first that makes BEFORE STRETCH AFTER a part of the line wins.
  for (size_t iParen = sMessage.find(" ("); iParen != std::string::npos && iParen < iOpen;
       iParen = sMessage.find(" (", iParen + 1)) {
    std::string sBefore = sMessage.substr(iParen + 2, iOpen - iParen - 2);
    size_t iAt = sLine.find(sBefore + sStretch + sAfter);
    if (iAt == std::string::npos) continue;
    *piColumn = static_cast<int>(iAt + sBefore.size());
    // An empty stretch (the fault is the end of the text) marks the character before it.
    *piLength = static_cast<int>(sStretch.size());
    if (*piLength == 0 && *piColumn > 0) --*piColumn, *piLength = 1;
    return *piLength > 0;
  }
  return false;
}

std::vector<std::string> PatchTextLines(const std::string& sText) {
  std::vector<std::string> as;
  size_t iStart = 0;
  while (true) {
    size_t iEnd = sText.find('\n', iStart);
    std::string s = sText.substr(iStart, iEnd == std::string::npos ? std::string::npos : iEnd - iStart);
    if (!s.empty() && s.back() == '\r') s.pop_back();
    as.push_back(s);
    if (iEnd == std::string::npos) break;
    iStart = iEnd + 1;
  }
  return as;
}

std::string PatchSectionType(const std::string& sText, int iLine) {
  ModuleType* ptype = SectionModuleType(PatchTextLines(sText), iLine);
  return ptype ? ptype->pszName : "";
}

PatchCompletion PatchCompletionAt(const std::string& sText, int iLine, int iColumn) {
  PatchCompletion completion;
  std::vector<std::string> asLine = PatchTextLines(sText);
  if (iLine < 0 || iLine >= static_cast<int>(asLine.size())) return completion;
  std::string sHead = asLine[static_cast<size_t>(iLine)].substr(0, static_cast<size_t>(std::max(iColumn, 0)));
  size_t iWord = sHead.size();
  while (iWord > 0 && IsWordChar(sHead[iWord - 1])) --iWord;
  completion.sPrefix = sHead.substr(iWord);
  std::string sBefore = Trim(sHead.substr(0, iWord));
  auto Offer = [&](const char* pszWord) {
    if (AKstrnicmp(pszWord, completion.sPrefix.c_str(), completion.sPrefix.size()) == 0 &&
        completion.sPrefix != pszWord)
      completion.asWord.push_back(pszWord);
  };
  std::string sName, sValue;
  if (SplitAssignment(sBefore, &sName, &sValue) && sValue.empty() && AKstricmp(sName.c_str(), "ModuleType") == 0) {
    for (ModuleType* ptype : ModuleFactory::Get()->aptype) Offer(ptype->pszName);
  } else if (sBefore.empty() && PatchLineKindOf(sHead) == PatchLineKind::Other) {
    ModuleType* ptype = SectionModuleType(asLine, iLine);
    if (!ptype) return completion;
    for (const Var* pvar = ptype->avarInputs; pvar && pvar->pszName; ++pvar) Offer(pvar->pszName);
  }
  return completion;
}

std::string PatchVariableHelp(const std::string& sType, const std::string& sVariable) {
  ModuleType* ptype = ModuleFactory::Get()->Lookup(sType.c_str());
  if (!ptype) return "";
  for (const Var* avar : {ptype->avarInputs, ptype->avarOutputs})
    for (const Var* pvar = avar; pvar && pvar->pszName; ++pvar)
      if (sVariable == pvar->pszName)
        return std::string(sType) + ":" + pvar->pszName + (avar == ptype->avarInputs ? " (input, " : " (output, ") +
               KindWord(pvar->type) + ", " + CapWord(pvar->classMax) + ")" +
               (pvar->pszDefault ? std::string("\ndefault: ") + pvar->pszDefault : std::string());
  return "";
}
