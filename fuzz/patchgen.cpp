// The structure-aware patch generator: every choice is read from the input bytes and made among
// what the module factory and the formula tables offer.
#include "patchgen.h"

#include <string>
#include <vector>

#include "patchtables.h"

namespace {

// The input bytes as a list of choices; past the end every choice is 0.
class Choices {
 public:
  Choices(const uint8_t* pData, size_t nSize) : p_(pData), pEnd_(pData + nSize) {}
  // A number in 0 .. n-1 (n at most 65536).
  int Below(int n) {
    if (n <= 1) return 0;
    unsigned u = Byte();
    if (n > 256) u = u << 8 | Byte();
    return static_cast<int>(u % static_cast<unsigned>(n));
  }
  // True about once in n choices; false past the end of the input.
  bool OneIn(int n) { return Below(n) == n - 1; }
  template <class T>
  const T& Pick(const std::vector<T>& a) { return a[static_cast<size_t>(Below(static_cast<int>(a.size())))]; }

 private:
  unsigned Byte() { return p_ < pEnd_ ? *p_++ : 0; }
  const uint8_t* p_;
  const uint8_t* pEnd_;
};

struct GenModule {
  std::string sName;
  const PatchTypeInfo* ptype;
  bool bPerPatch;
};

// Constants as patches write them: plain numbers, units, note names, the odd extreme.
const std::vector<std::string> asConstant = {
    "0", "1", "0.5", "2", "440", "110", "-1", "0.001", "100ms", "2 s", "3 semis", "-6 dB", "7 cents", "A4", "C#3",
    "1e9", "-1e9", "1e-30", "20000", "0.25", "12", "1/3",
};
// Values every patch can read, whatever its modules.
const std::vector<std::string> asStructural = {
    "Pitch", "Note:Velocity", "Note:NoteNumber", "Note:Time", "Note:VoiceNum", "Note:NoteOff", "Channel:ModWheel",
    "Channel:PitchBend", "Global:FreqA", "Global:FreqEval", "Patch:Time", "EnvGain", "EnvGain:Amp", "LFOVibrato",
};
// Controller values a patch's Channel section may start from.
const std::vector<std::string> asChannelVar = {"ModWheel", "BreathCtrl", "ChannelVol", "PanCtrl", "ExprCtrl",
                                               "General1"};
const std::vector<std::string> asArithmetic = {"+", "-", "*", "/"};
const std::vector<std::string> asPackageVersion = {"", "1", "1.0", "1.0.0", "2", "1.2.0", "0.9"};

class Generator {
 public:
  Generator(const uint8_t* pData, size_t nSize) : c_(pData, nSize), tables_(GetPatchTables()) {
    for (const PatchTypeInfo& type : tables_.atype) {
      if (type.bHelper || type.bStructural) continue;
      // The generated envelope stage types are many; drawn apart, they do not crowd out the rest.
      bool bStages = type.sName.size() > 3 && type.sName.compare(type.sName.size() - 3, 3, "Env") == 0;
      (bStages ? aptypeStages_ : aptype_).push_back(&type);
    }
    for (const PatchFnInfo& fn : tables_.afn)
      if (!fn.anArgs.empty()) apfn_.push_back(&fn);
    for (const std::string& sOp : tables_.asOp)
      if (sOp != "^") asOp_.push_back(sOp);  // a power of a power overflows at once: rare in patches
  }

  GeneratedPatch Run() {
    GeneratedPatch gen;
    gen.sText = Level(0, &gen);
    return gen;
  }

 private:
  // One patch text: the patch itself (depth 0) or a sub-patch or package body (depth 1).
  std::string Level(int iDepth, GeneratedPatch* pgen, bool bPackage = false) {
    std::vector<GenModule> amodSaved;
    amodSaved.swap(amod_);
    std::vector<std::string> asExtraSaved;
    asExtraSaved.swap(asExtra_);
    if (bPackage) asExtra_.push_back("Interface:Input");
    std::string sText;
    int nModules = 1 + c_.Below(iDepth ? 3 : 5);
    // Names first, so that formulas may read modules defined further down, as patches do.
    for (int i = 0; i < nModules; ++i) {
      const PatchTypeInfo* ptype = c_.OneIn(8) && !aptypeStages_.empty() ? c_.Pick(aptypeStages_) : c_.Pick(aptype_);
      bool bPerPatch = c_.Below(2) == 1;
      amod_.push_back({ptype->sName + std::to_string(i + 1), ptype, bPerPatch});
    }
    std::string sPackages;
    if (iDepth == 0) {
      if (c_.OneIn(4)) sText += SubPatch(pgen, static_cast<int>(pgen->afile.size()));
      if (c_.OneIn(4)) sPackages += Package(pgen, static_cast<int>(pgen->afile.size()));
      if (c_.OneIn(6)) {
        sPackages += "[Tremolo1]\nInput = " + Formula(2) + "\n";
        asExtra_.push_back("Tremolo1:Output");
      }
    }
    for (const GenModule& mod : amod_) sText += Section(mod);
    sText += sPackages;
    if (bPackage) {
      sText += "[Interface]\nInput = 0\nDepth = " + Formula(1) + "\nOutput = " + Formula(2) + "\n";
      if (c_.OneIn(3)) sText += "Per = Patch\n";
    } else {
      sText += Structural(iDepth);
    }
    amod_.swap(amodSaved);
    asExtra_.swap(asExtraSaved);
    return sText;
  }

  std::string Section(const GenModule& mod) {
    std::string s = "[" + mod.sName + "]\n";
    // A section named after its type finds it without a ModuleType line; most patches say it.
    if (!c_.OneIn(4)) s += "ModuleType = " + mod.ptype->sName + "\n";
    if (mod.bPerPatch) s += "Per = Patch\n";
    else if (c_.OneIn(6)) s += "Per = Voice\n";
    for (const PatchVarInfo& var : mod.ptype->avarIn)
      if (c_.OneIn(3)) s += var.sName + " = " + Value(var.type) + "\n";
    if (!mod.ptype->asNumberedIn.empty())
      for (int n = c_.Below(4); n > 0; --n)
        s += c_.Pick(mod.ptype->asNumberedIn) + std::to_string(1 + c_.Below(3)) + " = " + Formula(2) + "\n";
    if (c_.OneIn(6)) s += "amount = " + Formula(2) + "\n";
    if (c_.OneIn(10)) s += "Rate = audio\n";
    return s;
  }

  // The sections every patch has, set the way patches set them: the voice's output (often in
  // stereo), the patch's output per channel, its voice settings, controller start values.
  std::string Structural(int iDepth) {
    std::string s = "[Voice]\nPreGain = ";
    switch (c_.Below(4)) {
      case 0: s += Formula(3) + "\n"; break;
      case 1: s += "Pan( " + Formula(2) + ", " + Formula(1) + " )\n"; break;
      case 2: s += Formula(2) + "\nPreGain$2 = " + Formula(2) + "\n"; break;
      default: s += Formula(2) + "\nResult$2 = " + Formula(2) + "\n"; break;
    }
    if (iDepth == 0) {
      std::string sPatch;
      if (c_.OneIn(3)) sPatch += "Result$2 = " + Formula(2) + "\n";
      if (c_.OneIn(5)) sPatch += "Result = " + Formula(2) + "\n";
      if (c_.OneIn(5)) sPatch += "NoteMax = " + std::to_string(1 + c_.Below(4)) + "\n";
      if (c_.OneIn(6)) sPatch += "VoicesPerNote = " + std::to_string(1 + c_.Below(3)) + "\n";
      if (c_.OneIn(8)) sPatch += "Retrigger = false\n";
      if (c_.OneIn(8)) sPatch += "VoiceCache = LIFO\n";
      if (c_.OneIn(8)) sPatch += "RandomSeed = " + std::to_string(c_.Below(1000)) + "\n";
      if (!sPatch.empty()) s += "[Patch]\n" + sPatch;
      if (c_.OneIn(6)) s += "[Channel]\n" + c_.Pick(asChannelVar) + " = " + Value(1) + "\n";
    }
    if (c_.OneIn(4)) {
      s += "[EnvGain]\n";
      for (const char* psz : {"Attack", "Decay", "Sustain", "Release"})
        if (c_.OneIn(2)) s += std::string(psz) + " = " + Formula(1) + "\n";
    }
    if (c_.OneIn(8)) s += "[Pitch]\nOctave = " + Formula(1) + "\n";
    return s;
  }

  std::string SubPatch(GeneratedPatch* pgen, int iFile) {
    std::string sFile = "gen/sub" + std::to_string(iFile) + ".vantrel";
    std::string sBody = Level(1, pgen);
    pgen->afile.push_back({"patch/" + sFile, sBody});
    std::string sName = "Layer" + std::to_string(iFile);
    std::string s = "[" + sName + "]\nModuleType = Sub\nFile = \"" + sFile + "\"\n";
    // A punch-out line sets a variable inside the sub-patch.
    if (c_.OneIn(3)) s += "Voice:PreGain = " + Formula(1) + "\n";
    asExtra_.push_back(sName + ":Result");
    return s;
  }

  std::string Package(GeneratedPatch* pgen, int iFile) {
    std::string sPackage = std::string("Gen") + static_cast<char>('A' + iFile);
    std::string sBody = Level(1, pgen, true);
    pgen->afile.push_back({"package/" + sPackage + ".1.0.0.vanpack", sBody});
    std::string sName = sPackage + "1";
    std::string s = "[" + sName + "]\nInput = " + Formula(2) + "\n";
    const std::string& sVersion = c_.Pick(asPackageVersion);
    if (!sVersion.empty()) s += "Version = " + sVersion + "\n";
    if (c_.OneIn(4)) s += "Per = Patch\n";
    asExtra_.push_back(sName + ":Output");
    asExtra_.push_back(sName + ":Depth");
    return s;
  }

  std::string Value(int type) {
    switch (type) {
      case 16: return c_.OneIn(4) ? Formula(1) : c_.Pick(tables_.asKeyword);
      case 4: return c_.OneIn(4) ? Formula(1) + " > " + Formula(1) : (c_.OneIn(3) ? "true" : "false");
      case 2: return c_.OneIn(2) ? "\"gen.raw\"" : Formula(1);
      default: return Formula(2);
    }
  }

  // A reference to something the patch has: a module's output (bare name or Module:Output),
  // a structural value, or a package's or sub-patch's output, now and then on channel 2 or
  // from an earlier sample.
  std::string Reference() {
    std::string s;
    int iKind = c_.Below(8);
    if (iKind < 5 && !amod_.empty()) {
      const GenModule& mod = c_.Pick(amod_);
      s = mod.sName;
      if (c_.Below(2) && !mod.ptype->avarOut.empty()) s += ":" + c_.Pick(mod.ptype->avarOut).sName;
      else if (c_.OneIn(6) && !mod.ptype->asNumberedOut.empty())
        s += ":" + c_.Pick(mod.ptype->asNumberedOut) + std::to_string(1 + c_.Below(2));
    } else if (iKind == 5 && !asExtra_.empty()) {
      s = c_.Pick(asExtra_);
    } else {
      s = c_.Pick(asStructural);
    }
    if (c_.OneIn(10)) s += "$2";
    if (c_.OneIn(10)) s += "@" + std::to_string(1 + c_.Below(3));
    return s;
  }

  std::string Formula(int iDepth) {
    if (iDepth <= 0 || c_.Below(3) == 0) {
      switch (c_.Below(3)) {
        case 0: return c_.Pick(asConstant);
        default: return Reference();
      }
    }
    switch (c_.Below(8)) {
      case 0:
      case 1:
      case 2:
      case 3: {
        // Mostly arithmetic, as in patches; now and then any operator of the table.
        const std::string& sOp = c_.OneIn(4) ? c_.Pick(asOp_) : c_.Pick(asArithmetic);
        return Formula(iDepth - 1) + " " + sOp + " " + Formula(iDepth - 1);
      }
      case 4:
      case 5: {
        const PatchFnInfo& fn = *c_.Pick(apfn_);
        int nArgs = c_.Pick(fn.anArgs);
        std::string s = fn.sName + "(";
        for (int i = 0; i < nArgs; ++i) s += (i ? ", " : " ") + Formula(iDepth - 1);
        return s + " )";
      }
      case 6: return "( " + Formula(iDepth - 1) + " )";
      default:
        // A module written inline, as in Osc( Pitch * 2 ).
        return c_.Pick(aptype_)->sName + "( " + Formula(iDepth - 1) + " )";
    }
  }

  Choices c_;
  const PatchTables& tables_;
  std::vector<const PatchTypeInfo*> aptype_, aptypeStages_;
  std::vector<const PatchFnInfo*> apfn_;
  std::vector<std::string> asOp_;
  std::vector<GenModule> amod_;        // the modules of the level being written
  std::vector<std::string> asExtra_;  // outputs of its sub-patches and packages
};

}  // namespace

GeneratedPatch GeneratePatch(const uint8_t* pData, size_t nSize) { return Generator(pData, nSize).Run(); }
