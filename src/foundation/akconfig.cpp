// Configuration data model: sections and variables, setting, typed getters, tracing, time values.
#include "foundation/akconfig.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "foundation/akstatus.h"
#include "foundation/akstring.h"

// Logs one trace line "Operation( "path", args )" when tracing is on for the section.
#define AK_CONFIG_TRACE(pconf, pszFormat, ...)                    \
  do {                                                           \
    if (Tracing(pconf)) {                                        \
      char szPath[512];                                          \
      AKConfigPath(pconf, szPath, sizeof szPath);                \
      AKS(AKSStatus, AK_HERE, pszFormat, szPath, __VA_ARGS__);   \
    }                                                            \
  } while (0)

namespace {

bool g_bTraceOn = false;

bool IsWhite(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r'; }

bool Tracing(AKConfig_T* pconf) { return g_bTraceOn || (pconf && pconf->bTrace); }

const char* Safe(const char* psz) { return psz ? psz : ""; }

// Leading decimal integer: optional white space and sign, then digits; none give 0.
int LeadingInt(const char* psz) {
  errno = 0;
  long l = strtol(psz, nullptr, 10);
  if (l > INT_MAX) return INT_MAX;
  if (l < INT_MIN) return INT_MIN;
  return static_cast<int>(l);
}

// The longest leading part that forms a decimal floating-point number (no hex, inf or nan).
double LeadingDouble(const char* psz) {
  const char* p = psz;
  while (IsWhite(*p)) ++p;
  const char* pszStart = p;
  if (*p == '+' || *p == '-') ++p;
  int nDigits = 0;
  while (isdigit(static_cast<unsigned char>(*p))) ++p, ++nDigits;
  if (*p == '.') {
    ++p;
    while (isdigit(static_cast<unsigned char>(*p))) ++p, ++nDigits;
  }
  if (!nDigits) return 0.0;
  if (*p == 'e' || *p == 'E') {
    const char* q = p + 1;
    if (*q == '+' || *q == '-') ++q;
    if (isdigit(static_cast<unsigned char>(*q))) {
      while (isdigit(static_cast<unsigned char>(*q))) ++q;
      p = q;
    }
  }
  std::string s(pszStart, static_cast<size_t>(p - pszStart));
  return strtod(s.c_str(), nullptr);
}

bool ValueBool(const char* psz) {
  if (LeadingInt(psz) != 0) return true;
  return psz[0] == 'y' || psz[0] == 'Y' || psz[0] == 't' || psz[0] == 'T';
}

void FreeTree(AKConfig_T* pconf) {
  for (AKConfig_T* pconfSub : pconf->apconfSub) FreeTree(pconfSub);
  for (AKConfigVar_T& var : pconf->avar) {
    free(var.pszValue);
    free(var.pszName);
  }
  free(pconf->pszName);
  delete pconf;
}

}  // namespace

AKConfig_T* AKConfigNew(const char* pszName, AKConfig_T* pconfParent) {
  auto* pconf = new AKConfig_T{AKstrdup(pszName ? pszName : ""), -1, AKArray<AKConfigVar_T>(AK_HERE),
                               AKArray<AKConfig_T*>(AK_HERE), pconfParent, getenv("KSConfig") != nullptr};
  return pconf;
}

void AKConfigFree(AKConfig_T* pconf) {
  if (pconf) FreeTree(pconf);
}

AKConfigVar_T* AKConfigFindVar(AKConfig_T* pconf, const char* pszName) {
  if (!pconf) return nullptr;
  for (AKConfigVar_T& var : pconf->avar)
    if (AKstrcmp(var.pszName, pszName) == 0) return &var;
  return nullptr;
}

void AKConfigSetLine(AKConfig_T* pconf, const char* pszName, const char* pszValue, int iLine) {
  if (AKConfigVar_T* pvar = AKConfigFindVar(pconf, pszName)) {
    free(pvar->pszValue);
    pvar->pszValue = AKstrdup(pszValue);
    pvar->iLine = iLine;
    return;
  }
  AKConfigVar_T& var = pconf->avar.Add();
  var.pszName = AKstrdup(pszName ? pszName : "");
  var.pszValue = AKstrdup(pszValue);
  var.iLine = iLine;
  // A new value loses its trailing white space, but never its first character.
  if (var.pszValue) {
    size_t n = strlen(var.pszValue);
    while (n > 1 && IsWhite(var.pszValue[n - 1])) var.pszValue[--n] = 0;
  }
}

void AKConfigSet(AKConfig_T* pconf, const char* pszName, const char* pszValue) {
  AKConfigSetLine(pconf, pszName, pszValue, -1);
}

void AKConfigSetInt(AKConfig_T* pconf, const char* pszName, int i) {
  char sz[32];
  snprintf(sz, sizeof sz, "%d", i);
  AKConfigSet(pconf, pszName, sz);
}

void AKConfigSetDouble(AKConfig_T* pconf, const char* pszName, double d) {
  std::string s(static_cast<size_t>(snprintf(nullptr, 0, "%f", d)) + 1, 0);
  snprintf(s.data(), s.size(), "%f", d);
  AKConfigSet(pconf, pszName, s.c_str());
}

void AKConfigSetTime(AKConfig_T* pconf, const char* pszName, int64_t t) {
  time_t tt = static_cast<time_t>(t);
  struct tm tmLocal;
  localtime_r(&tt, &tmLocal);
  char sz[32];
  snprintf(sz, sizeof sz, "%02d:%02d:%02d", tmLocal.tm_hour, tmLocal.tm_min, tmLocal.tm_sec);
  AKConfigSet(pconf, pszName, sz);
}

void AKConfigSetBool(AKConfig_T* pconf, const char* pszName, bool b) {
  AKConfigSet(pconf, pszName, b ? "true" : "false");
}

AKConfig_T* AKConfigGetSubLine(AKConfig_T* pconf, const char* pszName, int iLine) {
  for (AKConfig_T* pconfSub : pconf->apconfSub)
    if (AKstrcmp(pconfSub->pszName, pszName) == 0) return pconfSub;
  AKConfig_T* pconfSub = AKConfigNew(pszName, pconf);
  pconfSub->iLine = iLine;
  pconf->apconfSub.Add(pconfSub);
  return pconfSub;
}

AKConfig_T* AKConfigGetSub(AKConfig_T* pconf, const char* pszName) {
  AK_CONFIG_TRACE(pconf, "AKConfigGetSub( \"%s\", \"%s\" )", Safe(pszName));
  return AKConfigGetSubLine(pconf, pszName, -1);
}

AKConfig_T* AKConfigGetSubInt(AKConfig_T* pconf, int i) {
  AK_CONFIG_TRACE(pconf, "AKConfigGetSubInt( \"%s\", %d )", i);
  char sz[32];
  snprintf(sz, sizeof sz, "%d", i);
  return AKConfigGetSubLine(pconf, sz, -1);
}

static bool HasSub(AKConfig_T* pconf, const char* pszName) {
  for (AKConfig_T* pconfSub : pconf->apconfSub)
    if (AKstrcmp(pconfSub->pszName, pszName) == 0) return true;
  return false;
}

bool AKConfigTestSub(AKConfig_T* pconf, const char* pszName) {
  AK_CONFIG_TRACE(pconf, "AKConfigTestSub( \"%s\", \"%s\" )", Safe(pszName));
  return HasSub(pconf, pszName);
}

bool AKConfigTestSubInt(AKConfig_T* pconf, int i) {
  AK_CONFIG_TRACE(pconf, "AKConfigTestSubInt( \"%s\", %d )", i);
  char sz[32];
  snprintf(sz, sizeof sz, "%d", i);
  return HasSub(pconf, sz);
}

const char* AKConfigGet(AKConfig_T* pconf, const char* pszName) {
  AK_CONFIG_TRACE(pconf, "AKConfigGet( \"%s\", \"%s\" )", Safe(pszName));
  AKConfigVar_T* pvar = AKConfigFindVar(pconf, pszName);
  return pvar ? pvar->pszValue : nullptr;
}

const char* AKConfigGetDef(AKConfig_T* pconf, const char* pszName, const char* pszDefault) {
  AK_CONFIG_TRACE(pconf, "AKConfigGetDef( \"%s\", \"%s\", \"%s\" )", Safe(pszName), Safe(pszDefault));
  AKConfigVar_T* pvar = AKConfigFindVar(pconf, pszName);
  return pvar ? (pvar->pszValue ? pvar->pszValue : "") : pszDefault;
}

int AKConfigGetInt(AKConfig_T* pconf, const char* pszName) {
  AK_CONFIG_TRACE(pconf, "AKConfigGetInt( \"%s\", \"%s\" )", Safe(pszName));
  AKConfigVar_T* pvar = AKConfigFindVar(pconf, pszName);
  return pvar && pvar->pszValue ? LeadingInt(pvar->pszValue) : 0;
}

int AKConfigGetIntDef(AKConfig_T* pconf, const char* pszName, int iDefault) {
  AK_CONFIG_TRACE(pconf, "AKConfigGetIntDef( \"%s\", \"%s\", %d )", Safe(pszName), iDefault);
  AKConfigVar_T* pvar = AKConfigFindVar(pconf, pszName);
  return pvar ? LeadingInt(pvar->pszValue ? pvar->pszValue : "") : iDefault;
}

double AKConfigGetDouble(AKConfig_T* pconf, const char* pszName) {
  AK_CONFIG_TRACE(pconf, "AKConfigGetDouble( \"%s\", \"%s\" )", Safe(pszName));
  AKConfigVar_T* pvar = AKConfigFindVar(pconf, pszName);
  return pvar && pvar->pszValue ? LeadingDouble(pvar->pszValue) : 0.0;
}

double AKConfigGetDoubleDef(AKConfig_T* pconf, const char* pszName, double dDefault) {
  AK_CONFIG_TRACE(pconf, "AKConfigGetDoubleDef( \"%s\", \"%s\", %f )", Safe(pszName), dDefault);
  AKConfigVar_T* pvar = AKConfigFindVar(pconf, pszName);
  return pvar ? LeadingDouble(pvar->pszValue ? pvar->pszValue : "") : dDefault;
}

bool AKConfigGetBool(AKConfig_T* pconf, const char* pszName) {
  AK_CONFIG_TRACE(pconf, "AKConfigGetBool( \"%s\", \"%s\" )", Safe(pszName));
  AKConfigVar_T* pvar = AKConfigFindVar(pconf, pszName);
  return pvar && pvar->pszValue ? ValueBool(pvar->pszValue) : false;
}

bool AKConfigGetBoolDef(AKConfig_T* pconf, const char* pszName, bool bDefault) {
  AK_CONFIG_TRACE(pconf, "AKConfigGetBoolDef( \"%s\", \"%s\", %s )", Safe(pszName), bDefault ? "true" : "false");
  AKConfigVar_T* pvar = AKConfigFindVar(pconf, pszName);
  return pvar ? ValueBool(pvar->pszValue ? pvar->pszValue : "") : bDefault;
}

int64_t AKConfigParseTime(const char* pszTime, bool bTomorrowOK) {
  int iHour = 0, iMinute = 0, iSecond = 0;
  char ch;
  int nFields = sscanf(pszTime ? pszTime : "", "%d:%d:%d%c", &iHour, &iMinute, &iSecond, &ch);
  if (nFields != 2 && nFields != 3) {
    AKS(AKSWarn, AK_HERE, "time not valid: \"%s\"", pszTime ? pszTime : "");
    return -1;
  }
  if (nFields == 2) iSecond = 0;
  time_t tNow = time(nullptr);
  struct tm tmWant;
  localtime_r(&tNow, &tmWant);
  tmWant.tm_hour = iHour;
  tmWant.tm_min = iMinute;
  tmWant.tm_sec = iSecond;
  tmWant.tm_isdst = -1;
  struct tm tmCopy = tmWant;
  time_t t = mktime(&tmCopy);
  if (t < tNow) {
    if (!bTomorrowOK) {
      AKS(AKSWarn, AK_HERE, "time in past: \"%s\"", pszTime);
      return -1;
    }
    tmWant.tm_mday += 1;
    t = mktime(&tmWant);
  }
  return static_cast<int64_t>(t);
}

int64_t AKConfigGetTime(AKConfig_T* pconf, const char* pszName, bool bTomorrowOK) {
  AK_CONFIG_TRACE(pconf, "AKConfigGetTime( \"%s\", \"%s\", %s )", Safe(pszName), bTomorrowOK ? "tomorrow OK" : "today");
  AKConfigVar_T* pvar = AKConfigFindVar(pconf, pszName);
  return pvar ? AKConfigParseTime(pvar->pszValue, bTomorrowOK) : -1;
}

int64_t AKConfigGetTimeDef(AKConfig_T* pconf, const char* pszName, bool bTomorrowOK, const char* pszDefault) {
  AK_CONFIG_TRACE(pconf, "AKConfigGetTimeDef( \"%s\", \"%s\", %s, \"%s\" )", Safe(pszName), bTomorrowOK ? "tomorrow OK" : "today", Safe(pszDefault));
  AKConfigVar_T* pvar = AKConfigFindVar(pconf, pszName);
  return AKConfigParseTime(pvar ? pvar->pszValue : pszDefault, bTomorrowOK);
}

bool AKConfigTest(AKConfig_T* pconf, const char* pszName) {
  AK_CONFIG_TRACE(pconf, "AKConfigTest( \"%s\", \"%s\" )", Safe(pszName));
  return AKConfigFindVar(pconf, pszName) != nullptr;
}

int AKConfigGetLine(AKConfig_T* pconf, const char* pszName) {
  AKConfigVar_T* pvar = AKConfigFindVar(pconf, pszName);
  return pvar ? pvar->iLine : -1;
}

int AKConfigPath(AKConfig_T* pconf, char* pszBuffer, int nSize) {
  if (!pszBuffer || nSize <= 0) return 0;
  std::string s;
  for (AKConfig_T* p = pconf; p; p = p->pconfParent) s.insert(0, p == pconf ? std::string(p->pszName) : std::string(p->pszName) + ".");
  AKstrcpy(pszBuffer, s.c_str(), static_cast<size_t>(nSize));
  return static_cast<int>(strlen(pszBuffer));
}

void AKConfigTraceOn() { g_bTraceOn = true; }

void AKConfigMerge(AKConfig_T* pconfDest, AKConfig_T* pconfSource) {
  for (AKConfigVar_T& var : pconfSource->avar) AKConfigSetLine(pconfDest, var.pszName, var.pszValue, var.iLine);
  for (AKConfig_T* pconfSub : pconfSource->apconfSub)
    AKConfigMerge(AKConfigGetSubLine(pconfDest, pconfSub->pszName, pconfSub->iLine), pconfSub);
}

AKConfig_T* AKConfigReadStream(const char* pszName, FILE* pfile, int iFormat, int* piLineStopped) {
  AKConfig_T* pconf = AKConfigNew(pszName, nullptr);
  size_t n = pszName ? strlen(pszName) : 0;
  bool bXml = iFormat == AKConfigXml || (iFormat == AKConfigByName && n >= 4 && strcmp(pszName + n - 4, ".xml") == 0);
  int iLineStopped = 0;  // the XML reader ends the process on a fault instead
  if (bXml) AKConfigReadXml(pconf, pfile);
  else iLineStopped = AKConfigReadText(pconf, pfile);
  if (piLineStopped) *piLineStopped = iLineStopped;
  return pconf;
}

AKConfig_T* AKConfigRead(const char* pszPath, int iFormat) {
  char* pszExpanded = AKExpandAlloc(pszPath);
  AKS(AKSStatus, AK_HERE, "opening config file \"%s\"", pszExpanded);
  FILE* pfile = fopen(pszExpanded, "rb");
  if (!pfile) {
    AKS(AKSStatus, AK_HERE, "fopen( \"%s\", \"rb\" ) = NULL: %s", pszExpanded, strerror(errno));
    free(pszExpanded);
    return nullptr;
  }
  AKConfig_T* pconf = AKConfigReadStream(pszPath, pfile, iFormat);
  if (fclose(pfile) == EOF) AKS(AKSWarn, AK_HERE, "fclose( \"%s\" ) = EOF: %s", pszExpanded, strerror(errno));
  free(pszExpanded);
  return pconf;
}

int AKConfigWriteStream(AKConfig_T* pconf, FILE* pfile, int iFormat) {
  return iFormat == AKConfigXml ? AKConfigWriteXml(pconf, pfile, 0) : AKConfigWriteText(pconf, pfile);
}

int AKConfigWrite(AKConfig_T* pconf, const char* pszPath) {
  char* pszExpanded = AKExpandAlloc(pszPath);
  AKS(AKSTrace, AK_HERE, "saving configuration to \"%s\"", pszExpanded);
  FILE* pfile = fopen(pszExpanded, "wb");
  if (!pfile) {
    AKS(AKSWarn, AK_HERE, "fopen( \"%s\", \"wb\" ) = NULL: %s", pszExpanded, strerror(errno));
    free(pszExpanded);
    return 1;
  }
  size_t n = strlen(pszExpanded);
  bool bXml = n >= 4 && strcmp(pszExpanded + n - 4, ".xml") == 0;
  int iResult = AKConfigWriteStream(pconf, pfile, bXml ? AKConfigXml : AKConfigText);
  if (fclose(pfile) == EOF) {
    AKS(AKSWarn, AK_HERE, "fclose( \"%s\" ) = EOF: %s", pszExpanded, strerror(errno));
    iResult = -1;
  }
  free(pszExpanded);
  return iResult;
}
