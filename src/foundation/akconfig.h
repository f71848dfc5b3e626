// Hierarchical configurations: the data model, typed access, and the text and XML forms.
#pragma once

#include <cstdint>
#include <cstdio>

#include "foundation/akarray.h"

struct AKConfigVar_T {
  char* pszName;
  char* pszValue;  // null when set from a null pointer
  int iLine;       // line of the name in a text file; -1 when set by program or read from XML
};

struct AKConfig_T {
  char* pszName;
  int iLine;  // line of the header that created the section; -1 when made by program or XML
  AKArray<AKConfigVar_T> avar;
  AKArray<AKConfig_T*> apconfSub;
  AKConfig_T* pconfParent;
  bool bTrace;  // KSConfig was set when the section was made
};

// Format selectors of the readers.
enum { AKConfigByName = 0, AKConfigXml = 1, AKConfigText = 2 };

// Sections may nest this deep: deeper paths would make the dotted names that the text form
// writes grow with the square of the depth, and real files use two or three levels.
constexpr int AKConfigMaxDepth = 256;

AKConfig_T* AKConfigNew(const char* pszName, AKConfig_T* pconfParent);
AKConfig_T* AKConfigRead(const char* pszPath, int iFormat);
// *piLineStopped, when asked for, receives the line of the malformed line at which the text
// reader stopped (the rest of the file unread), or 0 when the whole file was read.
AKConfig_T* AKConfigReadStream(const char* pszName, FILE* pfile, int iFormat, int* piLineStopped = nullptr);
int AKConfigWrite(AKConfig_T* pconf, const char* pszPath);
int AKConfigWriteStream(AKConfig_T* pconf, FILE* pfile, int iFormat);
void AKConfigFree(AKConfig_T* pconf);
void AKConfigMerge(AKConfig_T* pconfDest, AKConfig_T* pconfSource);

void AKConfigSetLine(AKConfig_T* pconf, const char* pszName, const char* pszValue, int iLine);
void AKConfigSet(AKConfig_T* pconf, const char* pszName, const char* pszValue);
void AKConfigSetInt(AKConfig_T* pconf, const char* pszName, int i);
void AKConfigSetDouble(AKConfig_T* pconf, const char* pszName, double d);
void AKConfigSetTime(AKConfig_T* pconf, const char* pszName, int64_t t);
void AKConfigSetBool(AKConfig_T* pconf, const char* pszName, bool b);

AKConfig_T* AKConfigGetSub(AKConfig_T* pconf, const char* pszName);
AKConfig_T* AKConfigGetSubInt(AKConfig_T* pconf, int i);
bool AKConfigTestSub(AKConfig_T* pconf, const char* pszName);
bool AKConfigTestSubInt(AKConfig_T* pconf, int i);
// The get-or-create of the readers: a new subsection takes iLine, an existing one keeps its own.
AKConfig_T* AKConfigGetSubLine(AKConfig_T* pconf, const char* pszName, int iLine);

const char* AKConfigGet(AKConfig_T* pconf, const char* pszName);
const char* AKConfigGetDef(AKConfig_T* pconf, const char* pszName, const char* pszDefault);
int AKConfigGetInt(AKConfig_T* pconf, const char* pszName);
int AKConfigGetIntDef(AKConfig_T* pconf, const char* pszName, int iDefault);
double AKConfigGetDouble(AKConfig_T* pconf, const char* pszName);
double AKConfigGetDoubleDef(AKConfig_T* pconf, const char* pszName, double dDefault);
bool AKConfigGetBool(AKConfig_T* pconf, const char* pszName);
bool AKConfigGetBoolDef(AKConfig_T* pconf, const char* pszName, bool bDefault);
int64_t AKConfigGetTime(AKConfig_T* pconf, const char* pszName, bool bTomorrowOK);
int64_t AKConfigGetTimeDef(AKConfig_T* pconf, const char* pszName, bool bTomorrowOK, const char* pszDefault);
bool AKConfigTest(AKConfig_T* pconf, const char* pszName);
int AKConfigGetLine(AKConfig_T* pconf, const char* pszName);
// The variable record itself, or nullptr; no tracing.
AKConfigVar_T* AKConfigFindVar(AKConfig_T* pconf, const char* pszName);

int AKConfigPath(AKConfig_T* pconf, char* pszBuffer, int nSize);
void AKConfigTraceOn();

// Converts a time of day ("hh:mm" or "hh:mm:ss") to a calendar time today (or tomorrow).
int64_t AKConfigParseTime(const char* pszTime, bool bTomorrowOK);

// The readers and writers of the two forms, on open streams. The text reader answers the line at
// which it stopped on a malformed line, 0 when it read the whole file.
int AKConfigReadText(AKConfig_T* pconfRoot, FILE* pfile);
void AKConfigReadXml(AKConfig_T* pconfRoot, FILE* pfile);
int AKConfigWriteText(AKConfig_T* pconf, FILE* pfile);
int AKConfigWriteXml(AKConfig_T* pconf, FILE* pfile, int nIndent);
