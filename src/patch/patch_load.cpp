// Patch loading: sections become modules and variable records, with default sections,
// sub-patches, packages and interfaces; every error is reported at its patch line.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "formula/errorlist.h"
#include "formula/formfn.h"
#include "foundation/akquark.h"
#include "foundation/akstatus.h"
#include "foundation/akstring.h"
#include "patch/patch.h"
#include "patch/structural.h"

namespace {

std::string g_sInstallDir = ".";

// Nesting of sub-patches and packages beyond this is refused: no real patch comes near it, and
// a file that includes itself through others would otherwise load forever.
constexpr int kMaxLevels = 64;
constexpr int kMaxVoices = 1024;  // voices a patch may preallocate
constexpr int kMaxNotes = 256;
constexpr int kMaxVoicesPerNote = 64;

const char* Q(const char* psz) { return AKQuark(psz ? psz : ""); }
const char* Q(const std::string& s) { return AKQuark(s.c_str()); }

const Var* FindRow(const Var* avar, const char* pszName) {
  for (const Var* pvar = avar; pvar && pvar->pszName; ++pvar)
    if (strcmp(pvar->pszName, pszName) == 0) return pvar;
  return nullptr;
}

// The configuration reader's warnings while a patch file is read: "line N: text" becomes a patch
// error at line N of that file.
void RedirectReaderWarning(int, const char*, int, const char* pszMessage, const char*, void* pvLineBase) {
  int iLine = -1, n = 0;
  if (sscanf(pszMessage, "line %d: %n", &iLine, &n) == 1 && n > 0) {
    ERRADD(ErrorList::Position(*static_cast<int*>(pvLineBase), iLine), "%s", pszMessage + n);
    return;
  }
  ERRADD(-1, "%s", pszMessage);
}

void RebaseLines(AKConfig_T* pconf, int iLineBase) {
  pconf->iLine = ErrorList::Position(iLineBase, pconf->iLine);
  for (AKConfigVar_T& var : pconf->avar) var.iLine = ErrorList::Position(iLineBase, var.iLine);
  for (AKConfig_T* pconfSub : pconf->apconfSub) RebaseLines(pconfSub, iLineBase);
}

// A patch setting is a plain number, not a formula: text after the number is not read, so the
// setting differs from what the same text means to a formula.
bool IsPlainNumber(const char* psz, bool bInteger) {
  while (isblank(static_cast<unsigned char>(*psz))) ++psz;
  if (*psz == '+' || *psz == '-') ++psz;
  if (!isdigit(static_cast<unsigned char>(*psz)) && !(!bInteger && *psz == '.')) return false;
  char* pszEnd = nullptr;
  errno = 0;
  if (bInteger) {
    long l = strtol(psz, &pszEnd, 10);
    if (errno == ERANGE || l > INT_MAX || l < INT_MIN) return false;
  } else {
    double d = strtod(psz, &pszEnd);
    if (errno == ERANGE || !std::isfinite(d)) return false;
    for (const char* p = psz; p < pszEnd; ++p)
      if (!strchr("0123456789.eE+-", *p)) return false;  // no hexadecimal forms
  }
  while (isblank(static_cast<unsigned char>(*pszEnd))) ++pszEnd;
  return *pszEnd == 0;
}

// A patch setting whose text is no plain number is read up to the first character that cannot
// belong to one: the warning names the value read.
void WarnUnlessPlain(AKConfig_T* pconf, const char* pszName, bool bInteger) {
  AKConfigVar_T* pvar = AKConfigFindVar(pconf, pszName);
  if (!pvar || !pvar->pszValue || IsPlainNumber(pvar->pszValue, bInteger)) return;
  double d = bInteger ? AKConfigGetInt(pconf, pszName) : AKConfigGetDouble(pconf, pszName);
  ERRADD(pvar->iLine, "Patch:%s = %s is not a plain number; using %.17g", pszName, pvar->pszValue, d);
}

// The Patch module's variable of a setting is given the value the patch plays with, unless the
// patch wrote it as a plain number: formulas and dumps then see that value, also where the
// text meant something else to a formula or the setting was left out (the module's default
// VoicePrealloc, for one, is not the count the patch makes).
void ShowSetting(AKConfig_T* pconf, const char* pszName, double dUsed, bool bInteger) {
  AKConfigVar_T* pvar = AKConfigFindVar(pconf, pszName);
  if (pvar && pvar->pszValue && IsPlainNumber(pvar->pszValue, bInteger)) return;
  char szValue[32];
  snprintf(szValue, sizeof szValue, "%.17g", dUsed);
  AKConfigSetLine(pconf, pszName, szValue, pvar ? pvar->iLine : -1);
}

}  // namespace

AKConfig_T* PatchReadText(const char* pszName, FILE* pfile, int iLineBase, bool* pbWhole) {
  void* pvUserBefore = nullptr;
  AKSCallback_T pfnBefore = AKSGetCallback(AKSWarn, &pvUserBefore);
  AKSSetCallback(AKSWarn, RedirectReaderWarning, &iLineBase);
  int iLineStopped = 0;
  AKConfig_T* pconf = AKConfigReadStream(pszName, pfile, AKConfigText, &iLineStopped);
  AKSSetCallback(AKSWarn, pfnBefore, pvUserBefore);
  if (iLineBase != 0) RebaseLines(pconf, iLineBase);
  *pbWhole = iLineStopped == 0;
  return pconf;
}

void PatchSetInstallDir(const std::string& sDir) { g_sInstallDir = sDir; }
const std::string& PatchInstallDir() { return g_sInstallDir; }

Patch::Patch(InterpreterSettings* pengine_, AKConfig_T* pconfRoot, ModChannel* pmodChannel_)
    : pengine(pengine_), pmodChannel(pmodChannel_) {
  iGenerator = FormRandomRegister(&uRandomState);
  ReadSettings(pconfRoot);
  AKS(AKSTrace, AK_HERE, "\n\n\n\n%s\n\n\n", std::string(180, '*').c_str());
  alayer.push_back(Layer(pconfRoot, 1, -1, true, "", ""));
  for (size_t i = 0; i < alayer.size(); ++i) {
    ProcessLayer(i);
    if (i > 0) {
      AKConfigFree(alayer[i].pconf);
      alayer[i].pconf = nullptr;
    }
    if (bStopLoading_) {
      for (size_t j = i + 1; j < alayer.size(); ++j) AKConfigFree(alayer[j].pconf), alayer[j].pconf = nullptr;
      return;
    }
  }
  ApplyOverrides();
  // Room for the records compilation appends (history copies, on-demand outputs, channel and
  // multi-mono copies); the table keeps its records in place beyond that as well.
  tabVoice.Reserve(1000);
  tabPatch.Reserve(1000);
  Compile();
}

void Patch::ReadSettings(AKConfig_T* pconfRoot) {
  AKConfig_T* pconf = AKConfigGetSub(pconfRoot, "Patch");
  iNoteMax = AKConfigGetIntDef(pconf, "NoteMax", 16);
  iVoicesPerNote = AKConfigGetIntDef(pconf, "VoicesPerNote", 1);
  iVoicePrealloc = AKConfigGetIntDef(pconf, "VoicePrealloc", -1);
  bFIFO = strcmp(AKConfigGetDef(pconf, "VoiceCache", "FIFO"), "FIFO") == 0;
  bRetrigger = AKConfigGetBoolDef(pconf, "Retrigger", true);
  dFreqEvalControl = AKConfigGetDoubleDef(pconf, "FreqEvalControl", 11025);
  uRandomState = static_cast<uint32_t>(AKConfigGetIntDef(pconf, "RandomSeed", 1));
  for (const char* pszName : {"NoteMax", "VoicesPerNote", "VoicePrealloc", "RandomSeed"})
    WarnUnlessPlain(pconf, pszName, true);
  WarnUnlessPlain(pconf, "FreqEvalControl", false);
  // Counts that no patch can mean would allocate without bound or leave no voice to play.
  auto check = [&](const char* pszName, int& i, int iMin, int iMax) {
    if (i >= iMin && i <= iMax) return;
    ERRADD(AKConfigGetLine(pconf, pszName), "Patch:%s = %d must be from %d to %d", pszName, i, iMin, iMax);
    i = std::clamp(i, iMin, iMax);
    Fail();
  };
  check("NoteMax", iNoteMax, 1, kMaxNotes);
  check("VoicesPerNote", iVoicesPerNote, 1, kMaxVoicesPerNote);
  if (iVoicePrealloc == -1) iVoicePrealloc = std::min(iNoteMax * iVoicesPerNote, kMaxVoices);
  check("VoicePrealloc", iVoicePrealloc, 1, kMaxVoices);
  ShowSetting(pconf, "NoteMax", iNoteMax, true);
  ShowSetting(pconf, "VoicesPerNote", iVoicesPerNote, true);
  ShowSetting(pconf, "VoicePrealloc", iVoicePrealloc, true);
  ShowSetting(pconf, "RandomSeed", static_cast<int32_t>(uRandomState), true);
  ShowSetting(pconf, "FreqEvalControl", dFreqEvalControl, false);
}

void Patch::AddDefaultSections(Layer& layer) {
  AKConfig_T* pconf = layer.pconf;
  auto sub = [&](const char* pszName) { return AKConfigGetSub(pconf, pszName); };
  auto setUnless = [](AKConfig_T* pconfSection, const char* pszName, const char* pszValue) {
    if (!AKConfigTest(pconfSection, pszName)) AKConfigSet(pconfSection, pszName, pszValue);
  };
  // EnvGain: the anti-click envelope unless the patch shapes its own.
  auto envGain = [&]() {
    AKConfig_T* pconfEnv = sub("EnvGain");
    int n = pconfEnv->avar.N();
    if (n == 0 || (n == 1 && strcmp(pconfEnv->avar[0].pszName, "antiClick") == 0)) {
      setUnless(pconfEnv, "antiClick", "1");
      AKConfigSet(pconfEnv, "Attack", "antiClick * 100ms / Max( Pitch, Global:FreqFullBass )");
      AKConfigSet(pconfEnv, "Release", "antiClick * 400ms / Max( Pitch, Global:FreqFullBass )");
    }
  };
  if (layer.iLevel == 1) {
    AKConfigSet(sub("Channel"), "Per", "Patch");
    envGain();
    AKConfig_T* pconfGlobal = sub("Global");
    AKConfigMerge(pconfGlobal, pengine->pconfConfig);
    AKConfigSet(pconfGlobal, "Per", "Patch");
    setUnless(sub("LFOVibrato"), "Per", "Patch");
    sub("Note");
    sub("Pitch");
    AKConfigSet(sub("Patch"), "Per", "Patch");
    setUnless(sub("Portamento"), "Bypass", "true");
    sub("Tuning");
    sub("Voice");
    return;
  }
  AKConfig_T* pconfChannel = sub("Channel");
  AKConfigSet(pconfChannel, "ModuleType", "DummyChannel");
  AKConfigSet(pconfChannel, "Per", "Patch");
  envGain();
  AKConfigSet(sub("Note"), "ModuleType", "DummyNote");
  AKConfig_T* pconfPatch = sub("Patch");
  AKConfigSet(pconfPatch, "ModuleType", "DummyPatch");
  AKConfigSet(pconfPatch, "Per", "Patch");
  AKConfigSet(sub("Pitch"), "ModuleType", "DummyPitch");
  AKConfigSet(sub("Portamento"), "ModuleType", "SubPortamento");
  // A sub-patch tunes like its parent.
  AKConfig_T* pconfTuning = sub("Tuning");
  AKConfigSet(pconfTuning, "ModuleType", "SubTuning");
  AKConfigSet(pconfTuning, "ValFormula", alayer[static_cast<size_t>(layer.iLevelParent - 1)].sTuningFormula.c_str());
}

void Patch::ProcessLayer(size_t iLayer) {
  Layer& layer = alayer[iLayer];
  int iLevel = layer.iLevel;
  int iLevelParent = layer.iLevelParent;
  if (layer.bPatch) AddDefaultSections(alayer[iLayer]);
  // What a sub-patch of this level will tune by: this level's own Tuning formula or its default.
  if (AKConfigTestSub(alayer[iLayer].pconf, "Tuning")) {
    AKConfig_T* pconfTuning = AKConfigGetSub(alayer[iLayer].pconf, "Tuning");
    const char* pszType = AKConfigGetDef(pconfTuning, "ModuleType", "Tuning");
    ModuleType* ptypeTuning = ModuleFactory::Get()->Lookup(pszType);
    const Var* pvarRow = ptypeTuning ? FindRow(ptypeTuning->avarInputs, "ValFormula") : nullptr;
    const char* pszDefault = pvarRow && pvarRow->pszDefault ? pvarRow->pszDefault : "";
    alayer[iLayer].sTuningFormula = AKConfigGetDef(pconfTuning, "ValFormula", pszDefault);
  }
  AKConfig_T* pconf = alayer[iLayer].pconf;
  for (int iSection = 0; iSection < pconf->apconfSub.N(); ++iSection) {
    AKConfig_T* pconfSection = pconf->apconfSub[iSection];
    const char* pszName = pconfSection->pszName;
    const char* pszType = AKConfigGet(pconfSection, "ModuleType");
    ModuleType* ptype = ModuleFactory::Get()->Find(pszType, pszName);
    if (!ptype) ptype = FindPackage(pconf, pconfSection, pszType, iLevel);
    if (bStopLoading_) return;
    if (!ptype) {
      if (pszType) ERRADD(pconfSection->iLine, "%s:ModuleType = %s - unknown type", pszName, pszType);
      else ERRADD(pconfSection->iLine, "[%s] - cannot figure out the module type", pszName);
      Fail();
      continue;
    }
    const char* pszPer = AKConfigGet(pconfSection, "Per");
    bool bPerPatch = pszPer && AKstricmp(pszPer, "Patch") == 0;
    if (pszPer && !bPerPatch && AKstricmp(pszPer, "Voice") != 0)
      ERRADD(AKConfigGetLine(pconfSection, "Per"), "%s:Per must be Patch or Voice; assuming Voice", pszName);
    int iModuleLevel = iLevel, iModuleParent = iLevelParent;
    if (strcmp(ptype->pszName, "Sub") == 0) {
      AKS(AKSTrace, AK_HERE, "%s", "found subpatch");
      if (bPerPatch) {
        ERRADD(pconfSection->iLine, "%s:Per Patch sub-patches aren't allowed", pszName);
        Fail();
        bStopLoading_ = true;
        return;
      }
      if (LoadSubPatch(pconf, pconfSection, ptype->pszName, &iModuleLevel, &iModuleParent) != 0) {
        Fail();
        bStopLoading_ = true;
        return;
      }
    } else if (strcmp(pszName, "Interface") == 0) {
      alayer[iLayer].bHasInterface = true;
    }
    AddModule(ptype, pconfSection, bPerPatch, iModuleLevel, iModuleParent);
  }
  if (!alayer[iLayer].bPatch && !alayer[iLayer].bHasInterface) {
    ERRADD(-1, "%s", "Modules must define a [Interface]");
    Fail();
  }
}

int Patch::CopyRow(const Var& varRow, VarTable& table, const ModuleEntry& entry, bool bPerPatch, int iModuleIndex,
                   int iLine, int iLevel, int iLevelOwn, int iLevelParent, bool bAudioRate) {
  Var var = varRow;
  var.pszName = Q(varRow.pszName);
  var.pszModule = entry.pszName;
  var.pszModuleType = Q(entry.ptype->pszName);
  var.ptype = entry.ptype;
  var.iModule = bPerPatch ? -1 : iModuleIndex;
  var.iModulePP = bPerPatch ? iModuleIndex : -1;
  var.iLine = iLine;
  var.iLevel = iLevel;
  var.iLevelOwn = iLevelOwn;
  var.iLevelParent = iLevelParent;
  var.iShadow = -1;
  var.iOrig = -1;
  var.bAudioRate = bAudioRate;
  var.evalState = EvalStale;
  int i = table.Append(var);
  if (bPerPatch) {
    // Per-voice formulas see every per-patch variable through a shadow copy in their table.
    Var varShadow = var;
    if (varShadow.pfnOutput == nullptr && (varRow.flags & VarFlagInput) == 0 && varRow.pszDefault &&
        FindRow(entry.ptype->avarOutputs, varRow.pszName))
      varShadow.pszDefault = nullptr;
    tabPatch[i].iShadow = tabVoice.Append(varShadow);
  }
  return i;
}

int Patch::AddModule(ModuleType* ptype, AKConfig_T* pconfSection, bool bPerPatch, int iLevel, int iLevelParent) {
  const char* pszName = Q(pconfSection ? pconfSection->pszName : ptype->pszName);
  VarTable& table = bPerPatch ? tabPatch : tabVoice;
  std::vector<ModuleEntry>& amod = bPerPatch ? amodPatch : amodVoice;
  int iModuleIndex = static_cast<int>(amod.size());
  amod.push_back(ModuleEntry{ptype, pszName, 1, iLevel, table.N(), -1, pconfSection ? pconfSection->iLine : -1});
  ModuleEntry entry = amod.back();
  bool bGlobal = strcmp(ptype->pszName, "Global") == 0;
  bool bSub = strcmp(ptype->pszName, "Sub") == 0;
  int iVarLevel = bGlobal ? 0 : bSub ? iLevelParent : iLevel;
  int iVarLevelOwn = bGlobal ? 0 : iLevel;
  bool bAudio = ptype->HasAttr(AttrAudioRate);
  if (const char* pszRate = AKConfigGet(pconfSection, "Rate")) bAudio = AKstricmp(pszRate, "audio") == 0;
  int iLine = pconfSection ? pconfSection->iLine : -1;
  auto copy = [&](const Var& varRow, bool bAudioRate) {
    return CopyRow(varRow, table, entry, bPerPatch, iModuleIndex, iLine, iVarLevel, iVarLevelOwn, iLevelParent,
                   bAudioRate);
  };
  bool bScope = strcmp(pszName, "Scope") == 0;
  for (const Var* pvar = ptype->avarInputs; pvar->pszName; ++pvar)
    copy(*pvar, bScope || (strcmp(pszName, "Voice") == 0 && strcmp(pvar->pszName, "Result") == 0));
  auto named = [&](const char* pszVar) {
    for (int iVar = 0; pconfSection && iVar < pconfSection->avar.N(); ++iVar)
      if (strcmp(pconfSection->avar[iVar].pszName, pszVar) == 0) return true;
    return false;
  };
  for (const Var* pvar = ptype->avarOutputs; pvar->pszName; ++pvar) {
    if ((pvar->flags & VarFlagOnReference) && !named(pvar->pszName)) continue;
    int i = copy(*pvar, bAudio);
    if (bPerPatch) {
      Var& varShadow = tabVoice[tabPatch[i].iShadow];
      varShadow.pszDefault = nullptr;
      varShadow.pszUser = nullptr;
    }
  }
  bool bCapitalsAllowed = strcmp(ptype->pszName, "Interface") == 0 || bSub;
  // A section that calls a package chooses it with Version, which is no variable of the package.
  bool bPackageCaller = strcmp(ptype->pszName, "Interface") == 0 && strcmp(pszName, "Interface") != 0;
  for (int iVar = 0; pconfSection && iVar < pconfSection->avar.N(); ++iVar) {
    const AKConfigVar_T& line = pconfSection->avar[iVar];
    if (strcmp(line.pszName, "ModuleType") == 0 || strcmp(line.pszName, "Per") == 0) continue;
    if (bPackageCaller && strcmp(line.pszName, "Version") == 0) continue;
    const char* pszValue = line.pszValue ? line.pszValue : "";
    if (strcmp(ptype->pszName, "Channel") != 0 && FindRow(ptype->avarOutputs, line.pszName)) {
      ERRADD(line.iLine, "User cannot set output variable %s:%s to %s", pszName, line.pszName, pszValue);
      Fail();
      return -1;
    }
    // An existing record of this module (own level, same name) takes the formula.
    const char* pszVar = Q(line.pszName);
    bool bFound = false;
    for (int i = entry.iFirstVar; i < table.N(); ++i) {
      Var& var = table[i];
      if (var.pszModule != pszName || var.iLevelOwn != iVarLevelOwn || var.pszName != pszVar || var.iHistory) continue;
      var.pszUser = Q(pszValue);
      var.iLine = line.iLine;
      if (bPerPatch) {
        // A voice's copy of an output (a channel's initial value) has no formula: the value is
        // set once in the per-patch module, and a voice must not set it again at every note.
        if (!FindRow(ptype->avarOutputs, line.pszName)) tabVoice[var.iShadow].pszUser = var.pszUser;
        tabVoice[var.iShadow].iLine = line.iLine;
      }
      bFound = true;
      break;
    }
    if (bFound) continue;
    if (ptype->IsPartnerName(line.pszName)) continue;
    Var var{};
    var.pszName = pszVar;
    var.type = FormTypeNumeric;
    var.iOffset = -1;
    var.pszUser = Q(pszValue);
    // A channel of a declared multi-channel variable (Result$2) is that variable's channel.
    const char* pszDollar = strchr(line.pszName, '$');
    const Var* pvarChannelOf = nullptr;
    if (pszDollar) {
      std::string sBase(line.pszName, static_cast<size_t>(pszDollar - line.pszName));
      for (const Var* avar : {ptype->avarInputs, ptype->avarOutputs})
        if (const Var* pvarRow = FindRow(avar, sBase.c_str()))
          if (pvarRow->flags & VarFlagChannels) pvarChannelOf = pvarRow;
    }
    if (pvarChannelOf) {
      var.flags = pvarChannelOf->flags;
      var.classMax = pvarChannelOf->classMax;
      var.type = pvarChannelOf->type;
    } else if (ptype->IsNumberedInput(line.pszName)) {
      var.flags = 0;
    } else {
      var.flags = VarFlagUser;
      if (isupper(static_cast<unsigned char>(line.pszName[0])) && !bCapitalsAllowed) {
        ERRADD(line.iLine, "%s:%s: User variable names must start with lowercase", pszName, line.pszName);
        Fail();
        return -1;
      }
    }
    copy(var, bAudio);
    table[table.N() - 1].iLine = line.iLine;
    if (bPerPatch) tabVoice[tabVoice.N() - 1].iLine = line.iLine;
  }
  if (!bPerPatch && ptype->pszHelper) {
    ModuleType* ptypeHelper = ptype->HelperType();
    amodVoice[static_cast<size_t>(iModuleIndex)].iHelper = static_cast<int>(amodPatch.size());
    if (ptypeHelper) AddModule(ptypeHelper, pconfSection, true, iLevel, iLevelParent);
  }
  return 0;
}

AKConfig_T* Patch::ReadIncluded(const std::string& sPath, int iLine) {
  // A folder opens like a file and reads as an empty one, so it is refused by name.
  struct stat st;
  const char* pszReason = nullptr;
  FILE* pfile = nullptr;
  if (stat(sPath.c_str(), &st) != 0) pszReason = strerror(errno);
  else if (S_ISDIR(st.st_mode)) pszReason = "is a directory";
  else if (!(pfile = fopen(sPath.c_str(), "rb"))) pszReason = strerror(errno);
  if (pszReason) {
    ERRADD(iLine, "cannot read \"%s\": %s", sPath.c_str(), pszReason);
    return nullptr;
  }
  bool bWhole = false;
  AKConfig_T* pconf = PatchReadText(sPath.c_str(), pfile, ErrorList::Get()->FileBase(sPath.c_str()), &bWhole);
  fclose(pfile);
  if (bWhole) return pconf;
  // The reader's message, at its line of the file, says where reading stopped.
  AKConfigFree(pconf);
  return nullptr;
}

bool Patch::IncludesFile(int iLevel, const std::string& sFile) const {
  for (int i = iLevel; i >= 1; i = alayer[static_cast<size_t>(i - 1)].iLevelParent)
    if (alayer[static_cast<size_t>(i - 1)].sFile == sFile) return true;
  return false;
}

int Patch::LoadSubPatch(AKConfig_T* pconfLayer, AKConfig_T* pconfSection, const char* pszType, int* piLevel,
                        int* piLevelParent) {
  (void)pconfLayer, (void)pszType;
  const char* pszName = pconfSection->pszName;
  const char* pszFile = AKConfigGet(pconfSection, "File");
  if (!pszFile) {
    ERRADD(pconfSection->iLine, "Sub-Patch \"%s\" lacks a \"File\" variable", pszName);
    return -1;
  }
  int iLine = AKConfigGetLine(pconfSection, "File");
  // The value is a path relative to the installation's patch folder, in double quotes or not.
  std::string sPath;
  for (const char* p = pszFile; *p; ++p)
    if (*p != '"') sPath += *p == '\\' ? '/' : *p;
  while (!sPath.empty() && isblank(static_cast<unsigned char>(sPath.back()))) sPath.pop_back();
  while (!sPath.empty() && isblank(static_cast<unsigned char>(sPath.front()))) sPath.erase(0, 1);
  // The Sub module's File variable is a formula: an unquoted path becomes the string it names.
  AKConfigSetLine(pconfSection, "File", ("\"" + sPath + "\"").c_str(), iLine);
  std::string sFull = PatchInstallDir() + "/patch/" + sPath;
  int iCalling = *piLevel;
  if (IncludesFile(iCalling, sFull)) {
    ERRADD(iLine, "Sub-Patch \"%s\" includes itself: \"%s\"", pszName, sPath.c_str());
    return -1;
  }
  if (static_cast<int>(alayer.size()) >= kMaxLevels) {
    ERRADD(iLine, "Sub-Patch \"%s\" nests patches more than %d levels deep", pszName, kMaxLevels);
    return -1;
  }
  AKConfig_T* pconfSub = ReadIncluded(sFull, iLine);
  if (!pconfSub) return -1;
  // A sub-patch has no voice or channel of its own.
  bool bVoice = false;
  for (AKConfig_T* pconfSubSection : pconfSub->apconfSub) {
    ModuleType* ptype = ModuleFactory::Get()->Find(AKConfigGet(pconfSubSection, "ModuleType"), pconfSubSection->pszName);
    if (!ptype) continue;
    if (strcmp(ptype->pszName, "Voice") == 0) AKConfigSet(pconfSubSection, "ModuleType", "DummyVoice");
    if (strcmp(ptype->pszName, "Channel") == 0) AKConfigSet(pconfSubSection, "ModuleType", "DummyChannel");
    bVoice |= strcmp(ptype->pszName, "Voice") == 0 || strcmp(ptype->pszName, "DummyVoice") == 0;
  }
  // The Sub module's Result is the sub-patch's Voice:Result unless the caller says otherwise.
  // Loading goes on, so that the sub-patch's own faults are reported as well; its Result, which
  // cannot be had, becomes 0 rather than a second message about the same fault.
  if (!bVoice && !AKConfigTest(pconfSection, "Result")) {
    ERRADD(iLine, "Sub-Patch \"%s\": \"%s\" has no [Voice] section, which gives a sub-patch its Result", pszName,
           sPath.c_str());
    Fail();
    AKConfigSetLine(pconfSection, "Result", "0", iLine);
  }
  int iNew = static_cast<int>(alayer.size()) + 1;
  alayer.push_back(Layer(pconfSub, iNew, iCalling, true, "", sFull));
  *piLevel = iNew;
  *piLevelParent = iCalling;
  // PunchOut lines Module:Variable set variables inside the sub-patch.
  for (const AKConfigVar_T& line : pconfSection->avar) {
    const char* pszColon = strchr(line.pszName, ':');
    if (!pszColon) continue;
    std::string sModule(line.pszName, static_cast<size_t>(pszColon - line.pszName));
    if (sModule.size() > 511) {
      ERRADD(line.iLine, "Sub-Patch \"%s\" PunchOut module name too long: \"%s\"", pszName, line.pszName);
      Fail();
      continue;
    }
    if (!pszColon[1]) {
      ERRADD(line.iLine, "Sub-Patch \"%s\" PunchOut has no field name: \"%s\"", pszName, line.pszName);
      Fail();
      continue;
    }
    if (AKConfigTestSub(pconfSub, sModule.c_str()))
      AKConfigSetLine(AKConfigGetSub(pconfSub, sModule.c_str()), pszColon + 1, line.pszValue, line.iLine);
    else
      aoverride.push_back(Override{iNew, sModule, pszColon + 1, line.pszValue ? line.pszValue : "", line.iLine});
  }
  return 0;
}

ModuleType* Patch::FindPackage(AKConfig_T* pconfLayer, AKConfig_T* pconfSection, const char* pszType, int iLevel) {
  (void)pconfLayer;
  const char* pszName = pconfSection->pszName;
  int iLine = pconfSection->iLine;
  int aiWant[3] = {-1, -1, -1};
  if (const char* pszVersion = AKConfigGet(pconfSection, "Version")) {
    int n = 0, nFields = sscanf(pszVersion, "%d.%d.%d%n", &aiWant[0], &aiWant[1], &aiWant[2], &n);
    bool bWhole = false;
    for (int nTry = 3; nTry >= 1 && !bWhole; --nTry) {
      aiWant[0] = aiWant[1] = aiWant[2] = -1;
      n = 0;
      const char* apszFormat[] = {"%d%n", "%d.%d%n", "%d.%d.%d%n"};
      int* apn[3] = {&aiWant[0], &aiWant[1], &aiWant[2]};
      if (nTry == 1) nFields = sscanf(pszVersion, apszFormat[0], apn[0], &n);
      else if (nTry == 2) nFields = sscanf(pszVersion, apszFormat[1], apn[0], apn[1], &n);
      else nFields = sscanf(pszVersion, apszFormat[2], apn[0], apn[1], apn[2], &n);
      bWhole = nFields == nTry && n > 0 && pszVersion[n] == 0;
    }
    if (!bWhole) {
      ERRADD(AKConfigGetLine(pconfSection, "Version"), "%s:Version not in format 1, 1.2, or 1.2.3", pszName);
      Fail();
      return nullptr;
    }
  }
  std::string sFolder = PatchInstallDir() + "/package";
  DIR* pdir = opendir(sFolder.c_str());
  if (!pdir) {
    ERRADD(iLine, "[%s]: cannot read package directory: %d", pszName, errno);
    Fail();
    return nullptr;
  }
  std::vector<std::string> asFiles;
  while (dirent* pent = readdir(pdir))
    if (pent->d_name[0] != '.') asFiles.push_back(pent->d_name);
  closedir(pdir);
  std::sort(asFiles.begin(), asFiles.end());  // a stable listing order decides between equal versions
  std::string sBest;
  int aiBest[3] = {0, 0, 0};
  for (const std::string& sFile : asFiles) {
    char szPackage[512];
    int aiVersion[3], n = 0;
    if (sFile.size() >= sizeof szPackage ||
        sscanf(sFile.c_str(), "%511[^.].%d.%d.%d.vanpack%n", szPackage, &aiVersion[0], &aiVersion[1], &aiVersion[2],
               &n) != 4 ||
        n == 0 || sFile[static_cast<size_t>(n)] != 0) {
      AKS(AKSTrace, AK_HERE, "filename in package directory doesn't match pattern: %s", sFile.c_str());
      continue;
    }
    if (pszType && strcmp(szPackage, pszType) != 0) {
      AKS(AKSTrace, AK_HERE, "%s not a match for ModuleType %s", szPackage, pszType);
      continue;
    }
    if (strncmp(pszName, szPackage, strlen(szPackage)) != 0) {
      AKS(AKSTrace, AK_HERE, "%s not a match for name %s", szPackage, pszName);
      continue;
    }
    if (aiWant[0] >= 0 && aiWant[0] != aiVersion[0]) {
      AKS(AKSTrace, AK_HERE, "not a match for major number: %s %d != %d", sFile.c_str(), aiWant[0], aiVersion[0]);
      continue;
    }
    if (aiWant[1] >= 0 && aiWant[1] > aiVersion[1]) {
      AKS(AKSTrace, AK_HERE, "not a match for minor number: %s %d > %d", sFile.c_str(), aiWant[1], aiVersion[1]);
      continue;
    }
    if (std::lexicographical_compare(aiBest, aiBest + 3, aiVersion, aiVersion + 3)) {
      AKS(AKSTrace, AK_HERE, "The best so far: %s %d %d %d", sFile.c_str(), aiVersion[0], aiVersion[1], aiVersion[2]);
      sBest = sFile;
      std::copy(aiVersion, aiVersion + 3, aiBest);
    } else {
      AKS(AKSTrace, AK_HERE, "already have a better match: %d %d %d > %d %d %d", aiBest[0], aiBest[1], aiBest[2],
          aiVersion[0], aiVersion[1], aiVersion[2]);
    }
  }
  if (sBest.empty()) {
    ERRADD(iLine, "[%s]: cannot find a match", pszName);
    return nullptr;
  }
  std::string sPath = sFolder + "/" + sBest;
  if (IncludesFile(iLevel, sPath)) {
    ERRADD(iLine, "[%s]: package %s includes itself", pszName, sBest.c_str());
    return nullptr;
  }
  if (static_cast<int>(alayer.size()) >= kMaxLevels) {
    ERRADD(iLine, "[%s]: packages and sub-patches nest more than %d levels deep", pszName, kMaxLevels);
    return nullptr;
  }
  AKConfig_T* pconfPkg = ReadIncluded(sPath, iLine);
  if (!pconfPkg) {
    Fail();
    return nullptr;
  }
  bool bPerPatch = false;
  if (const char* pszPer = AKConfigGet(pconfSection, "Per")) {
    bPerPatch = AKstricmp(pszPer, "patch") == 0;
  } else {
    for (AKConfig_T* pconfPkgSection : pconfPkg->apconfSub)
      if (strcmp(pconfPkgSection->pszName, "Interface") == 0)
        bPerPatch |= AKstricmp(AKConfigGetDef(pconfPkgSection, "Per", ""), "patch") == 0;
  }
  bool bInterface = false;
  for (AKConfig_T* pconfPkgSection : pconfPkg->apconfSub) {
    if (strcmp(pconfPkgSection->pszName, "Interface") == 0) {
      if (bInterface) {
        ERRADD(iLine, "file %s has multiple modules named [Interface]", sBest.c_str());
        AKConfigFree(pconfPkg);
        Fail();
        return nullptr;
      }
      bInterface = true;
      // The caller takes every interface variable it does not set, to be filled from the package.
      for (const AKConfigVar_T& var : pconfPkgSection->avar) {
        if (AKConfigTest(pconfSection, var.pszName)) continue;
        AKConfigSet(pconfSection, var.pszName, strcmp(var.pszName, "Per") == 0 ? var.pszValue : VarAugmentMarker);
      }
    }
    const char* pszPer = AKConfigGet(pconfPkgSection, "Per");
    if (!pszPer || AKstricmp(pszPer, "interface") == 0) AKConfigSet(pconfPkgSection, "Per", bPerPatch ? "Patch" : "Voice");
  }
  if (!bInterface) {
    ERRADD(iLine, "file %s has no [Interface] module", sBest.c_str());
    AKConfigFree(pconfPkg);
    Fail();
    return nullptr;
  }
  alayer.push_back(Layer(pconfPkg, static_cast<int>(alayer.size()) + 1, iLevel, false, pszName, sPath));
  return ModuleFactory::Get()->Lookup("Interface");
}

void Patch::ApplyOverrides() {
  AKS(AKSTrace, AK_HERE, "%s", "Overriding sub-patch variables...");
  for (const Override& over : aoverride) {
    const char* pszModule = Q(over.sModule);
    const char* pszVar = Q(over.sVar);
    bool bFound = false;
    for (VarTable* ptable : {&tabVoice, &tabPatch}) {
      for (int i = 0; i < ptable->N(); ++i) {
        Var& var = (*ptable)[i];
        if (var.pszModule == pszModule && var.pszName == pszVar && var.iLevel == over.iLevel && var.iHistory == 0) {
          var.pszUser = Q(over.sFormula);
          bFound = true;
          break;
        }
      }
    }
    if (!bFound) {
      ERRADD(over.iLine, "Sub-Patch Override specifies non-existent variable: \"%s:%s\"", over.sModule.c_str(),
             over.sVar.c_str());
      Fail();
    }
  }
}

void Patch::AddAnonymousModule(const char* pszType, const char* const* apszArgs, int nArgs, int* piRejected,
                               char* szName, int nSize) {
  (void)piRejected;
  if (bCompilingPerPatch_) {
    ERRADD(-1, "per-patch Anonymous Module %s not yet supported", pszType);
    Fail();
    return;
  }
  ModuleType* ptype = ModuleFactory::Get()->Lookup(pszType);
  if (!ptype) return;
  snprintf(szName, static_cast<size_t>(nSize), "%s_%d", pszType, nAnonymous++);
  const Var& varContext = tabVoice[iCompiling_];
  int iLine = varContext.iLine, iLevel = varContext.iLevelOwn, iLevelParent = varContext.iLevelParent;
  int iModuleIndex = static_cast<int>(amodVoice.size());
  amodVoice.push_back(ModuleEntry{ptype, Q(szName), 1, iLevel, tabVoice.N(), -1, iLine});
  ModuleEntry entry = amodVoice.back();
  bool bAudio = ptype->HasAttr(AttrAudioRate);
  int iArg = 0;
  for (const Var* pvar = ptype->avarInputs; pvar->pszName; ++pvar, ++iArg) {
    int i = CopyRow(*pvar, tabVoice, entry, false, iModuleIndex, iLine, iLevel, iLevel, iLevelParent,
                    strcmp(entry.pszName, "Scope") == 0);
    if (iArg < nArgs) tabVoice[i].pszUser = Q(apszArgs[iArg]);
  }
  for (const Var* pvar = ptype->avarOutputs; pvar->pszName; ++pvar)
    CopyRow(*pvar, tabVoice, entry, false, iModuleIndex, iLine, iLevel, iLevel, iLevelParent, bAudio);
  if (ptype->pszHelper) {
    ERRADD(-1, "ModuleType %s not supported as an anonymous module", pszType);
    Fail();
    amodVoice[static_cast<size_t>(iModuleIndex)].iHelper = static_cast<int>(amodPatch.size());
  }
}
