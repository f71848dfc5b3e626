// Module types: the descriptor of one module kind, its registration, and the factory of kinds.
//
// To add a module kind (say "Fold", class ModFold), touch only these places:
//  1. src/modules/fold.h and fold.cpp: the class ModFold (a Module) with its value block of
//     doubles, Init, Calc and whatever state it keeps; in fold.cpp the input and output tables
//     (VarIn, VarOut, ended by VarEnd), default formulas written in the rows, and one static
//     ModuleTypeTmpl<ModFold> typeFold("Fold", inputs, outputs, attributes, helper, OrderFold).
//     The object registers itself before main().
//  2. The attributes say what the compiler must know of the kind: AttrMultiMono (copied per
//     channel), AttrBypassPasses or AttrBypassSilences, AttrOutputFollows, AttrQuietUnused,
//     AttrAudioRate (outputs are audio-rate records), AttrFeedbackStep (FeedbackStep after every
//     sample). Names the kind accepts beyond its tables go into its static IsNumberedInput (inputs
//     such as Gain3 or an envelope's Trigger) and IsNumberedOutput (outputs made when a formula
//     names them, such as Tap2); a kind with a per-patch helper says in IsPartnerName which names
//     of its section the other module of the pair takes; checks of folded constants go into
//     CheckConstant (see ModuleTypeTmpl). The patch compiler knows no kind by name beyond the
//     structural ones (Voice, Patch, Global, Sub, Scope, ...).
//  3. Its source on its group's line in src/modules/GROUP.cmake (a new group: a new GROUP.cmake
//     and its name in the list of src/modules/CMakeLists.txt).
//  4. OrderFold in ModuleOrder (moduleorder.h), placed so that prefix look-up finds the right
//     kind for sections named without a ModuleType line.
//  5. New keywords its variables take go at the end of VANTREL_KEYWORDS below.
// tests/patch/fold.h and fold.cpp are this example followed through, for a kind that only the
// recipe's test program registers (its source is on that test's line instead of a group's).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <typeinfo>
#include <unordered_map>

#include "formula/formeval.h"
#include "formula/var.h"
#include "foundation/akarray.h"
#include "patch/module.h"
#include "patch/moduleorder.h"

// Attribute bits of a module type.
enum : uint32_t {
  AttrRegistered = 0x01,       // carried by every registration; no effect
  AttrBypassPasses = 0x02,     // a constant true Bypass makes the output its Input
  AttrBypassSilences = 0x04,   // a constant true Bypass makes the output 0
  AttrOutputFollows = 0x08,    // an output takes the evaluation class of Input
  AttrMultiMono = 0x10,        // duplicated once per channel of multi-channel input
  AttrQuietUnused = 0x20,      // dropped without the "unused" warning
  AttrAudioRate = 0x40,        // outputs are audio-rate records unless the section sets Rate
  AttrFeedbackStep = 0x80,     // FeedbackStep is called once after every sample (delay lines)
  AttrDrawsRandom = 0x100,     // draws from the patch's random generator (which voice draws first matters)
};

// Declaration rows. classMax 0 means no limit.
constexpr Var VarRow(const char* pszName, int type, int iOffset, const char* pszDefault, VarOutputFn pfnOutput,
                     int classMax, uint32_t flags) {
  Var var{};
  var.pszName = pszName;
  var.type = type;
  var.iOffset = iOffset;
  var.pszDefault = pszDefault;
  var.pfnOutput = pfnOutput;
  var.classMax = classMax;
  var.flags = flags;
  return var;
}
constexpr Var VarIn(const char* pszName, int type, int iOffset, int classMax, uint32_t flags, const char* pszDefault) {
  return VarRow(pszName, type, iOffset, pszDefault, nullptr, classMax, flags);
}
constexpr Var VarOut(const char* pszName, int type, int iOffset, int classMax, uint32_t flags,
                     VarOutputFn pfnOutput = ModuleCalcOutput, const char* pszDefault = nullptr) {
  return VarRow(pszName, type, iOffset, pszDefault, pfnOutput, classMax, flags);
}
// One line of help for a declared variable, kept beside the type's table: what it means, its
// unit and the range that makes sense. A type's list ends with an empty entry. An entry whose
// name holds "<N>" (such as "Freq<N>") describes the numbered variables the type accepts beyond
// its table (Freq1, Freq2, ...).
struct VarHelp {
  const char* pszName;
  const char* pszHelp;
};
// Gives every row of the table that the list names its help line; answers how many rows matched.
int VarApplyHelp(Var* avar, const VarHelp* ahelp);

// The row that ends a declaration table.
constexpr Var VarEnd = {};
// Byte offset of a field of a module's value block.
#define VAR_OFFSET(Block, field) static_cast<int>(offsetof(Block, field))

class ModuleType {
 public:
  // Marks the input rows as declared inputs and registers the type with the factory.
  // The help lists, when given, fill the help lines of the rows they name: the type's own, and
  // one it shares with its sibling types (Osc and LFO), so that a shared meaning is written once.
  ModuleType(const char* pszName, Var* avarInputs, Var* avarOutputs, uint32_t attrs, const char* pszHelper,
             int iOrder, const VarHelp* ahelp = nullptr, const VarHelp* ahelpShared = nullptr);
  virtual ~ModuleType() = default;

  virtual Module* Create(const char* pszModule, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
                         Module* pmodHelper) = 0;
  virtual Module* Create(const char* pszFile, int iLine, const char* pszModule, Patch* ppatch, Voice* pvoice,
                         bool bPerPatch, int iLevel, Module* pmodHelper) {
    (void)pszFile, (void)iLine;
    return Create(pszModule, ppatch, pvoice, bPerPatch, iLevel, pmodHelper);
  }
  // The per-patch helper type; a helper name that is not registered ends the program.
  virtual ModuleType* HelperType();
  virtual bool HasAttr(uint32_t bits) { return (attrs & bits) != 0; }
  // Inputs accepted beyond the table (numbered inputs).
  virtual bool IsNumberedInput(const char* pszVar) { (void)pszVar; return false; }
  // Outputs created on demand, with the new record's flags and routine.
  virtual bool IsNumberedOutput(const char* pszVar, uint32_t* pflags, VarOutputFn* ppfnOutput) {
    (void)pszVar, (void)pflags, (void)ppfnOutput;
    return false;
  }
  // A kind with a per-patch helper makes two modules from one section: each leaves the names
  // that belong to the other alone.
  virtual bool IsPartnerName(const char* pszVar) { (void)pszVar; return false; }
  // 0: the variable is not this name; 1: exactly the name; N: the name followed by "$N".
  virtual int ChannelOf(const Var* pvar, const char* pszName);
  // Refuses a multi-channel variable: reports it and answers -1.
  virtual int RefuseChannels(Var* pvar);
  // The compiler drops a variable whose constant value was folded into the formulas that read it
  // before the module is set up; the checks Init would have made on the value are made here.
  virtual void CheckConstant(const Var& var, double dValue) { (void)var, (void)dValue; }

  // The name of the module class, for listings.
  virtual const char* ClassName() { return "Module"; }
  // The output routine that computes a module of this type: its Calc called directly when the
  // type knows the module's class, otherwise through the virtual call.
  virtual VarOutputFn CalcRoutine(Module* pmod) {
    (void)pmod;
    return ModuleCalcOutput;
  }
  // The bring routine of the records CalcRoutine computes: FormBringOutput with the call of the
  // output routine inside it, so that a sample reaches Calc one call sooner.
  virtual VarBringFn BringRoutine(Module* pmod) {
    (void)pmod;
    return FormBringOutput;
  }
  // What computes modules of this type for several voices at once, as their Calc would one after
  // the other; absent where the type has nothing quicker than that. A call gets at most
  // kCalcAcrossMost modules.
  using CalcAcrossFn = void (*)(Module* const* apmod, int n);
  static constexpr int kCalcAcrossMost = 16;
  virtual CalcAcrossFn CalcAcrossRoutine(Module* pmod) {
    (void)pmod;
    return nullptr;
  }
  // The input record that the module's computation reads first whenever it computes, so that
  // the voices' inputs can be brought together before it; absent where that is not certain.
  virtual Var* FirstPull(Module* pmod) {
    (void)pmod;
    return nullptr;
  }

  // Whether the module never writes a value of its own into an input's storage while it computes,
  // so that an input record may keep the value its formula gave while what it reads rests
  // (patch_rest.cpp).
  virtual bool KeepsInputs(Module* pmod) {
    (void)pmod;
    return false;
  }

  // The output row of this name that gets a record only when a formula or the section names it;
  // absent for every other name. Names compare as in formulas: the first character exactly.
  const Var* RowOnReference(const char* pszVar) const;

  int NumInputs() const { return CountRows(avarInputs); }
  int NumOutputs() const { return CountRows(avarOutputs); }

  const char* pszName;
  Var* avarInputs;
  Var* avarOutputs;
  uint32_t attrs;
  const char* pszHelper;
  int iOrder;  // place in the look-up order
  const VarHelp* ahelp;        // the help lists the type was registered with, or absent
  const VarHelp* ahelpShared;

 private:
  static int CountRows(const Var* avar);
  // The on-reference rows by lower-cased name: hundreds of them on a channel or a tuning.
  std::unordered_map<std::string, const Var*> mapOnReference_;
};

// Binds a type to a module class T, which names itself in a static pszClassName and may define
// static IsNumberedInput(name), IsNumberedOutput(name, flags, routine), IsPartnerName(name),
// CheckConstant(var, value) and a constant kKeepsInputs.
template <class T>
class ModuleTypeTmpl : public ModuleType {
 public:
  using ModuleType::ModuleType;
  Module* Create(const char* pszModule, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
                 Module* pmodHelper) override {
    return new T(this, pszModule, ppatch, pvoice, bPerPatch, iLevel, pmodHelper);
  }
  const char* ClassName() override { return T::pszClassName; }
  bool IsNumberedInput(const char* pszVar) override {
    if constexpr (requires { T::IsNumberedInput(pszVar); }) return T::IsNumberedInput(pszVar);
    else return false;
  }
  bool IsNumberedOutput(const char* pszVar, uint32_t* pflags, VarOutputFn* ppfnOutput) override {
    if constexpr (requires { T::IsNumberedOutput(pszVar, pflags, ppfnOutput); })
      return T::IsNumberedOutput(pszVar, pflags, ppfnOutput);
    else return false;
  }
  bool IsPartnerName(const char* pszVar) override {
    if constexpr (requires { T::IsPartnerName(pszVar); }) return T::IsPartnerName(pszVar);
    else return false;
  }
  void CheckConstant(const Var& var, double dValue) override {
    if constexpr (requires { T::CheckConstant(var, dValue); }) T::CheckConstant(var, dValue);
  }
  VarOutputFn CalcRoutine(Module* pmod) override {
    if constexpr (requires(T* p) { p->T::Calc(); }) {
      if (typeid(*pmod) == typeid(T)) return [](Module* p, Var*) { static_cast<T*>(p)->T::Calc(); };
    }
    return ModuleCalcOutput;
  }
  VarBringFn BringRoutine(Module* pmod) override {
    if constexpr (requires(T* p) { p->T::Calc(); }) {
      if (typeid(*pmod) == typeid(T)) return BringModule;
    }
    return FormBringOutput;
  }
  CalcAcrossFn CalcAcrossRoutine(Module* pmod) override {
    if constexpr (requires(Module* const* ap) { T::CalcAcross(ap, 0); }) {
      if (typeid(*pmod) == typeid(T)) return &T::CalcAcross;
    }
    return nullptr;
  }
  Var* FirstPull(Module* pmod) override {
    if constexpr (requires(Module* p) { T::FirstPull(p); }) {
      if (typeid(*pmod) == typeid(T)) return T::FirstPull(pmod);
    }
    return nullptr;
  }
  bool KeepsInputs(Module* pmod) override {
    if constexpr (requires { T::kKeepsInputs; }) return T::kKeepsInputs && typeid(*pmod) == typeid(T);
    else return false;
  }

 private:
  // FormBringOutput for a module of class T.
  static void BringModule(Var* pvar, Var* avarTable) {
    if (pvar->evalState != EvalStale) {
      FormRefBring(pvar, avarTable);
      return;
    }
    pvar->evalState = EvalBusy;
    static_cast<T*>(pvar->pmodule)->T::Calc();
    FormRingCurrent(pvar);
    pvar->evalState = EvalCurrent;
  }
};

// The registry of module kinds, in look-up order.
class ModuleFactory {
 public:
  // The one factory; made on first use, when it also registers the keyword enumeration.
  static ModuleFactory* Get();
  void Register(ModuleType* ptype);
  // By exact type name, or (without one) the first type whose name begins the section name.
  ModuleType* Find(const char* pszType, const char* pszSection);
  // By exact name, without the warning; absent when not registered.
  ModuleType* Lookup(const char* pszType);
  AKArray<ModuleType*> aptype;

 private:
  ModuleFactory();
};

// True when the name is the prefix followed by decimal digits of non-zero value ("Freq3").
bool IsNumberedName(const char* pszName, const char* pszPrefix, int* piNumber = nullptr);

// The keywords module variables use, in number order: one list, expanded into the Keyword
// numbers here and into the names the factory registers (moduletype.cpp). A new keyword goes at
// the end, so that the numbers of the others stay as they are.
#define VANTREL_KEYWORDS(X)                                                                                \
  X(Unset) X(FIFO) X(LIFO) X(Formula) X(Sawtooth) X(Square) X(Triangle) X(Sine) X(SH) X(SawPulse)        \
  X(RevSawtooth) X(SawtoothNA) X(SquareNA) X(SawPulseNA) X(White) X(Pink) X(None) X(Linear) X(Exponential) \
  X(Left) X(Right) X(Nearest) X(Lowpass) X(Highpass) X(Serial) X(Parallel) X(Power) X(Flat)

// Keyword numbers of the enumeration that module variables use (KwUnset is 0).
enum Keyword {
#define VANTREL_KEYWORD_NUMBER(name) Kw##name,
  VANTREL_KEYWORDS(VANTREL_KEYWORD_NUMBER)
#undef VANTREL_KEYWORD_NUMBER
};
