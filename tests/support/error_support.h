// Look-ups in the error list for tests: whether and how often a message was reported, at which
// line, and the whole list as text.
#pragma once

#include <string>
#include <vector>

#include "formula/errorlist.h"

// The number of distinct entries in the list.
inline int ErrorEntries() {
  ErrorList* plist = ErrorList::Get();
  plist->Lock();
  const int n = plist->anode.N();
  plist->Unlock();
  return n;
}

// The entry with exactly this text, or null.
inline const ErrorListNode* FindError(const std::string& sText) {
  ErrorList* plist = ErrorList::Get();
  plist->Lock();
  const ErrorListNode* pnode = nullptr;
  for (const ErrorListNode& node : plist->anode)
    if (!pnode && sText == node.psz) pnode = &node;
  plist->Unlock();
  return pnode;
}

// Whether the list holds exactly this message.
inline bool ErrorListHas(const std::string& sMessage) { return FindError(sMessage) != nullptr; }

// How many times this exact message was reported (0 when absent), and its line.
inline int ErrorCount(const std::string& sMessage, int* piLine = nullptr) {
  const ErrorListNode* pnode = FindError(sMessage);
  if (pnode && piLine) *piLine = pnode->iLine;
  return pnode ? pnode->iCount : 0;
}

// The patch line of the last entry with this text (or, with bPrefix, starting with it), or -2
// when there is none.
inline int ErrorLine(const std::string& sText, bool bPrefix = false) {
  ErrorList* plist = ErrorList::Get();
  plist->Lock();
  int iLine = -2;
  for (int i = 0; i < plist->anode.N(); ++i) {
    const std::string s = plist->anode[i].psz;
    if (bPrefix ? s.rfind(sText, 0) == 0 : s == sText) iLine = plist->anode[i].iLine;
  }
  plist->Unlock();
  return iLine;
}

// The list's messages with their counts, as "text xN".
inline std::vector<std::string> ErrorTexts() {
  std::vector<std::string> as;
  ErrorList* plist = ErrorList::Get();
  plist->Lock();
  for (int i = 0; i < plist->anode.N(); ++i)
    as.push_back(std::string(plist->anode[i].psz) + " x" + std::to_string(plist->anode[i].iCount));
  plist->Unlock();
  return as;
}
