// The manual's page behind a help topic.
#include "ide/helptopics.h"

#include <strings.h>

#include <cctype>
#include <cstring>

#include "formula/formfn.h"
#include "patch/moduletype.h"

namespace {

std::string Trimmed(const std::string& s) {
  size_t iStart = s.find_first_not_of(" \t\r\n"), iEnd = s.find_last_not_of(" \t\r\n");
  return iStart == std::string::npos ? "" : s.substr(iStart, iEnd - iStart + 1);
}

// The envelope stage types share one page; every other type has its own.
std::string TypePage(const ModuleType* ptype) {
  return ptype->iOrder == OrderEnvStages ? "modules/EnvStages.md" : std::string("modules/") + ptype->pszName + ".md";
}

// The type a topic names: exactly, then ignoring case, then as a section name chooses its type
// (the first type in look-up order whose name begins it).
const ModuleType* TypeOfTopic(const std::string& sTopic) {
  ModuleFactory* pfactory = ModuleFactory::Get();
  if (const ModuleType* ptype = pfactory->Lookup(sTopic.c_str())) return ptype;
  for (const ModuleType* ptype : pfactory->aptype)
    if (strcasecmp(ptype->pszName, sTopic.c_str()) == 0) return ptype;
  for (const ModuleType* ptype : pfactory->aptype)
    if (strncmp(ptype->pszName, sTopic.c_str(), strlen(ptype->pszName)) == 0) return ptype;
  return nullptr;
}

}  // namespace

std::string HelpAnchor(const std::string& sHeading) {
  std::string s;
  for (char c : sHeading) {
    if (isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') s += static_cast<char>(tolower(c));
    else if (c == ' ') s += '-';
  }
  return s;
}

std::string HelpPageForTopic(const std::string& sTopicIn, const std::function<bool(const std::string&)>& pfnExists) {
  std::string sTopic = Trimmed(sTopicIn);
  auto Existing = [&](const std::string& sPage) { return pfnExists(sPage) ? sPage : std::string(); };
  if (sTopic.empty()) return Existing(kHelpIndexPage);
  for (const char* pszPart : {"language", "modules", "functions"})
    if (strcasecmp(sTopic.c_str(), pszPart) == 0) return Existing(std::string(pszPart) + ".md");
  if (const ModuleType* ptype = TypeOfTopic(sTopic)) return Existing(TypePage(ptype));
  if (FormFnFind(sTopic.c_str()) || FormFnFindUnit(sTopic.c_str()) || FormFnFindOp(sTopic.c_str()))
    return Existing("functions.md");
  return "";
}
