// A compiled patch: its modules, its two variable tables, and the operations the engine calls.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "enginecore/controllers.h"
#include "enginecore/settings.h"
#include "formula/form.h"
#include "formula/formcode.h"
#include "foundation/akconfig.h"
#include "patch/moduletype.h"
#include "patch/vartable.h"

class ModChannel;
class ModPatch;
class Voice;

// The folder the patch loader finds sub-patches ("patch") and packages ("package") in.
void PatchSetInstallDir(const std::string& sDir);
const std::string& PatchInstallDir();

// Reads a patch, sub-patch or package file in text form. The reader's warnings become patch
// errors at their lines, and every line of the result is a position of the file whose base is
// given (ErrorList::FileBase; 0 for the patch itself). *pbWhole tells whether the whole file was
// read: the reader stops at a malformed line, and a patch with unread lines must be refused.
AKConfig_T* PatchReadText(const char* pszName, FILE* pfile, int iLineBase, bool* pbWhole);

// What the formula layer, which knows no patches, asks of them through the hooks the program
// installs at start-up (InitSharedTables): SumVoices() in a per-patch formula sums its argument
// over the voices of the patch that owns the table, and the optimizer asks which bypass rule a
// record's module type follows.
void PatchSumVoices(Form* pformArg, Var* avarPerPatch, double* pdResult);
unsigned PatchBypassRule(const Var* pvar);

class Patch {
 public:
  // Loads and compiles; test bCompiled afterwards and discard a patch that failed. The caller
  // keeps the configuration and frees it after construction.
  Patch(InterpreterSettings* pengine, AKConfig_T* pconfRoot, ModChannel* pmodChannel);
  virtual ~Patch();
  Patch(const Patch&) = delete;
  Patch& operator=(const Patch&) = delete;

  // Playback, called by the engine, MIDI dispatch and the performance pad.
  virtual void NoteOn(int iNote, double dVelocity);
  virtual void PolyPressure(int iNote, double dValue);
  virtual void NoteOff(int iNote, double dVelocity);
  virtual void AllNotesOff();
  virtual void AllSoundOff();
  // Every sounding voice fades out over the engine's voice fade, then retires.
  virtual void FadeOutAll();
  virtual void ControllerChanged(int iChannel, int iControl, double dValue);
  virtual void Play(int iNote, double dVelocity);
  // Adds one sample of the patch's output to the frame.
  virtual double RenderFrame(double* adFrame, int nChannels);
  virtual double SumVoices(Form* pform);
  // Voice sums that bring what they read for all voices, record by record (patch_across.cpp). By
  // per-voice record: a module output whose kind computes voices together, or a compiled formula
  // with the records it reads first, in order, up to the last that leads to such an output; any
  // other record is brought voice by voice. Empty for a patch whose voices share state. Tests
  // clear it to compare.
  struct AcrossPlan {
    ModuleType::CalcAcrossFn pfnAcross = nullptr;
    int iFirstPull = -1;  // with pfnAcross: the input record the modules pull first, brought before
    std::vector<int> aiRead;
    bool bMayLoop = false;  // with aiRead: bringing them can come back to this record
    bool Planned() const { return pfnAcross || !aiRead.empty(); }
  };
  std::vector<AcrossPlan> aplanAcross;
  // The record that per-voice record iVar's formula only names, to be read in its place
  // (Module::PulledThrough, a voice's Finished); -1 where the formula does more, either record
  // keeps history copies, their kinds of value differ, bringing the named record can come back to
  // iVar (the loop must be found as it is), or bReadThrough is off.
  int NamedRecordVoice(int iVar);
  // By per-voice module, the per-sample records that keep their values while the module rests
  // (Module::AskRest, patch_rest.cpp): its outputs, then the formulas of pure arithmetic that read
  // only those and records slower than a sample. Empty for a module with an output that another
  // routine or a formula makes, and for all while bRest is off.
  std::vector<std::vector<int>> aaiRestVoice;
  // Voices brought together, as many as one call of a CalcAcrossFn takes; more go in groups.
  static constexpr size_t kAcrossGroup = ModuleType::kCalcAcrossMost;
  static constexpr size_t kAcrossLeast = 4;   // fewer voices gain nothing: they go one by one
  // The variable dumps of both tables, at Status severity.
  virtual void DumpVariables();
  // The dumps as text, for the command line.
  std::string DumpText();

  // Loading.
  struct Layer {
    Layer(AKConfig_T* pconf_, int iLevel_, int iLevelParent_, bool bPatch_, std::string sCaller_, std::string sFile_)
        : pconf(pconf_), iLevel(iLevel_), iLevelParent(iLevelParent_), bPatch(bPatch_), sCaller(std::move(sCaller_)),
          sFile(std::move(sFile_)) {}
    AKConfig_T* pconf;    // the parsed file of this level (owned, except level 1's)
    int iLevel;
    int iLevelParent;     // -1 for the patch itself
    bool bPatch;          // patch or sub-patch; false for a package
    std::string sCaller;  // the section that called a package
    std::string sFile;    // the file the level was read from, "" for the patch itself
    bool bHasInterface = false;
    std::string sTuningFormula;  // what a sub-patch of this level tunes by
  };
  struct Override {
    int iLevel;
    std::string sModule, sVar, sFormula;
    int iLine;
  };
  struct ModuleEntry {
    ModuleType* ptype;
    const char* pszName;  // interned
    int nChannels;
    int iLevel;           // the level that owns the module
    int iFirstVar;        // its first record in the matching table
    int iHelper;          // per-voice entries: the per-patch helper module, or -1
    int iLine = -1;       // the line of its section (or of the formula that wrote it inline)
  };

  virtual int AddModule(ModuleType* ptype, AKConfig_T* pconfSection, bool bPerPatch, int iLevel, int iLevelParent);
  virtual ModuleType* FindPackage(AKConfig_T* pconfLayer, AKConfig_T* pconfSection, const char* pszType, int iLevel);
  virtual int LoadSubPatch(AKConfig_T* pconfLayer, AKConfig_T* pconfSection, const char* pszType, int* piLevel,
                           int* piLevelParent);
  virtual void AddAnonymousModule(const char* pszType, const char* const* apszArgs, int nArgs, int* piRejected,
                                  char* szName, int nSize);

  // Compilation.
  virtual void CompileFormula(Var* pvar, bool bPerPatch);
  virtual Var* ResolveReference(Var* pvarRequest, const char* pszModule, const char* pszName, int iHistory);
  virtual void AugmentCaller(VarTable& table, int iVar);
  virtual bool RemapToCaller(VarTable& table, Form* pform);
  virtual bool ReferencesAudioRate(Form* pform, VarTable& table);
  virtual void CreateVoices();
  // Channels: splitting multi-channel values into one record per channel. The four similar
  // names are two levels of two steps, kept as they are because traces and dumps print them:
  //   Channelize       counting, whole patch: repeats ChannelizePass until no count changes;
  //   Chanellize       counting, one formula: its channel count (spelt so on purpose, to tell
  //                    it from the whole-patch step);
  //   ChannelSeparate  rewriting, whole patch: after CreateMultiMono, gives every record's
  //                    formula its own channel;
  //   ChanSeparate     rewriting, one formula: specialises it for channel k.
  virtual int Channelize();
  // One pass over a table: -1 on error, else whether something changed.
  virtual int ChannelizePass(VarTable& table);
  // The channel count of a formula, rewriting the bus functions that depend on it; -1 on error.
  virtual int Chanellize(Var* pvar, Form* pform, VarTable& table);
  virtual void CreateMultiMono();
  virtual void ChannelSeparate();
  // Points a reference at the record of channel k, when there is one.
  virtual void SeparateRecord(Form* pform, VarTable& table, int k);
  // Specialises a formula for channel k.
  virtual void ChanSeparate(Form** ppform, VarTable& table, int k);
  virtual void OptimizeTables();
  // Compiles the arithmetic of every record's formula into anodeCode, once the trees are final.
  virtual void CompileCode();
  // Takes the note parts out of the per-sample formulas of the per-voice table (CompileCode).
  void HoistNoteParts();

  // Evaluation classes.
  virtual int ComputeClass(Var* pvar, VarTable& table, int iDepth, int iBound);
  virtual int FormulaClass(Form* pform, VarTable& table, int iDepth, int iBound);
  virtual void RenumberReferences(Form* pform, const std::vector<int>& aiMap, const std::vector<int>& aiVoiceMap);
  virtual void RemoveUnused(VarTable& table, bool bPerVoice);
  virtual void RemoveUnneeded();

  // Orders history copies for shifting: by module, then name, then depth descending.
  static void SortHistory(VarTable& table, std::vector<int>& aiHistory);

  bool bCompiled = true;  // cleared by any error
  // Whether compilation runs the optimizer; tests turn it off to compare results with and without.
  static bool bOptimize;
  // Whether parts of per-sample formulas that change only with the note become records of their
  // own (patch_hoist.cpp); off, the formulas are compiled as they stand.
  static bool bHoist;
  // Whether a module input that only names another record is pulled from that record
  // (Module::PulledThrough), and voices' code reads per-patch records in place of their copies
  // (FormCodeReadShadows); off, the input record and the copy stand between.
  static bool bReadThrough;
  // Whether modules whose outputs cannot change until an event may rest (patch_rest.cpp); off,
  // every per-sample record is brought every sample.
  static bool bRest;

  // Settings from the Patch section.
  int iVoicePrealloc = -1;
  int iNoteMax = 16;
  int iVoicesPerNote = 1;
  bool bFIFO = true;
  bool bRetrigger = true;
  double dFreqEvalControl = 11025;
  uint32_t uRandomState = 1;  // RANDOM() and noise draw from it
  int iGenerator = -1;        // its registration with the formula language

  InterpreterSettings* pengine;
  std::vector<Layer> alayer;  // level n is alayer[n - 1]
  std::vector<Override> aoverride;
  std::vector<ModuleEntry> amodVoice, amodPatch;
  VarTable tabVoice, tabPatch;

  std::vector<Module*> apmodPatch;  // per-patch module objects, owned
  // Each module's records, by module list index, once the tables are in their final order.
  std::vector<std::vector<int>> aaiRecordsVoice, aaiRecordsPatch;
  ModPatch* pmodPatch = nullptr;
  ModChannel* pmodChannel = nullptr;  // the channel whose controllers this patch reads
  std::vector<Module*> apmodDelay;    // per-patch delays, called after every sample
  std::vector<int> aiEvalPerPatch;    // per-patch records evaluated for every output sample
  int iOutLeft = -1, iOutRight = -1;  // the output records
  std::vector<int> aiHistory;         // per-patch history copies, in shift order
  std::vector<FormNode> anodeCode;    // the compiled formulas of both tables, which voices share
  bool bScope = false;                // the oscilloscope probe is active
  int nAnonymous = 0;

  // Class boundaries of each table after ordering, indexed by ClassEnd: ends of constants,
  // per-patch, per-voice and per-note (the per-sample range runs to the end).
  enum ClassEnd { EndConstant, EndPerPatch, EndPerVoice, EndPerNote, ClassEndCount };
  int aiEndVoice[ClassEndCount] = {}, aiEndPatch[ClassEndCount] = {};
  // The per-sample records of the per-voice table end here; the note parts of per-sample formulas
  // follow, stale after every event of their voice (Voice::ForgetNoteParts).
  int iNotePartsVoice = 0;
  // Per per-voice record, the tree its code is compiled from where a note part was taken out of
  // it (its own tree stays for the dumps); absent elsewhere. Owned.
  std::vector<Form*> apformCodeVoice;
  // Update-on-MIDI lists: records to mark stale when a control changes.
  std::vector<int> aaiMidiPatch[ControllerCount], aaiMidiVoice[ControllerCount];

  // Playback state.
  std::vector<Voice*> apvoiceAll;  // every voice, owned
  std::vector<Voice*> apvoiceFree, apvoiceActive, apvoiceRender;
  long nChanges = 0, nChangesRendered = -1;
  // Within a frame whose voice sum brings voices together: the rendering voices have not begun
  // their samples yet. The sum begins each group's just before it brings them, so that what a
  // voice marks and computes stays in the cache between the two.
  bool bVoicesToBegin_ = false;
  void BeginVoices(size_t iFrom, size_t iTo);
  std::vector<int> aiHeld;  // held-note stack of the monophonic mode
  std::mutex mutex;         // guards the voice lists and the held-note stack
  double dSample = 0, dTime = 0;

 private:
  bool bStopLoading_ = false;  // a failed sub-patch ends the loading at once
  // Loading steps.
  void ReadSettings(AKConfig_T* pconfRoot);
  // Reads a sub-patch or package file for the section line iLine; null, reported, on failure.
  AKConfig_T* ReadIncluded(const std::string& sPath, int iLine);
  void AddDefaultSections(Layer& layer);
  void ProcessLayer(size_t iLayer);
  void ApplyOverrides();
  void Fail() { bCompiled = false; }
  void DestroyVoice(Voice* pvoice);
  int ModuleChannels(const Var& var);
  void SetModuleChannels(const Var& var, int n);
  void BindPerPatchRecord(int i);
  // Gives every module whose kind has an on-reference output of this name its record, unless it
  // has one: a formula is about to name it.
  void MakeRowsOnReference(const char* pszName);
  bool IncludesFile(int iLevel, const std::string& sFile) const;
  int CopyRow(const Var& varRow, VarTable& table, const ModuleEntry& entry, bool bPerPatch, int iModuleIndex,
              int iLine, int iLevel, int iLevelOwn, int iLevelParent, bool bAudioRate);
  // Compilation steps.
  void Compile();
  void BuildPerPatchModules();
  void BindPerPatchRecords();
  void GatherEvalPerPatch();
  void CheckRateFunctions(Var* pvar, Form* pform, bool bPerPatch, bool bNested);
  void MakeBypassedReferencesConsistent();
  void FinalWiring();
  void InitPerPatchModules();
  void ReportFailedInit(const ModuleEntry& entry);
  void CheckAudioRate();
  void FindScopeFlag();
  void PlanAcross();
  void PlanRest();
  void ReadShadowsDirectly();
  bool VoicesShareState();
  bool PlanRecordAcross(int iVar, std::vector<char>& abVisiting);
  // Whether bringing per-voice record iFrom can bring record iTo: through the formulas it reads
  // and the inputs of the modules it computes, to any depth.
  bool VoiceRecordReaches(int iFrom, int iTo);
  void BringAcross(int iVar, Voice* const* apvoice, size_t nVoice);
  Var* FindRecord(VarTable& table, const char* pszModule, const char* pszName, int iLevel, int iHistory);
  // The class computation's scratch: the MIDI controls a dependency tree reads.
  bool abControlTouched_[ControllerCount] = {};
  std::vector<int> aiControlTouched_;  // the same, as a list, so that a class round need not walk them all
  void ClearClassScratch(VarTable& table);
  // What the class computation has looked up once already (the tables hold still until it ends):
  // by per-voice record, its first per-patch twin (by module, name, level and depth) and the
  // per-patch record of its MIDI control (-2 until looked up); by module and level, the formula
  // records whose class an output follows; by helper module, the helper's formula records.
  struct ModuleInputs {
    const char* pszModule;
    int iLevel;
    std::vector<int> ai;
  };
  struct ClassLookups {
    std::vector<int> aiPatchTwin, aiPatchControl;
    std::deque<ModuleInputs> ainputs[2];  // per-patch, per-voice (kept in place as it grows)
    std::vector<std::optional<std::vector<int>>> aaiHelperInputs;
  } lookups_;
  void StartClassLookups();
  int PatchTwin(int iVoice);
  const std::vector<int>& InputsOf(VarTable& table, const Var& varOutput);
  const std::vector<int>& HelperInputs(int iHelper);
  // Clearing every record's caches before each root would cost the square of the table's size:
  // instead each table has a round number, and a record's caches count only in its round.
  unsigned uEpochPatch_ = 1, uEpochVoice_ = 1;
  std::vector<int> aiVoiceMap_;  // old to new per-voice indices while tables are ordered
  std::vector<const Var*> apvarComputing_;  // the records whose classes are being computed, outermost first

  // The compilation context of the parser callbacks.
  int iCompiling_ = -1;
  bool bCompilingPerPatch_ = false;
};
