// Parts of per-sample formulas that change only with the note. The pitch of every oscillator, for
// one, multiplies the note's tuning and bend (which change on MIDI events only) by the vibrato
// (which changes every sample); each voice computed the whole product every sample. Such a part
// becomes a record of its own after the records of the table, evaluated when first read after an
// event of its voice (a note, a controller, a refresh) and read as it stands in between. The
// formula compiled for the sample reads that record where the part was; its tree, which the dumps
// show, stays whole. The part computes the same operations in the same order as before, and reads
// what it reads in the same order when it is evaluated, so the sound is the same to the bit.
#include <string>
#include <vector>

#include "enginecore/controllers.h"
#include "formula/formcode.h"
#include "formula/formfn.h"
#include "foundation/akquark.h"
#include "foundation/akstatus.h"
#include "patch/patch.h"

bool Patch::bHoist = true;

namespace {

// The rows a note part may call: arithmetic and the unit conversions, which depend on their
// arguments alone (a random draw, a once-per call or a clock could give another value when
// evaluated again).
bool IsSteadyRow(const FormFnInfo* pinfo) {
  if (FormFnIsArithmetic(pinfo)) return true;
  for (const FormFnInfo* p = FormFnUnits; p->pszName; ++p)
    if (p == pinfo) return true;
  return false;
}

class Hoister {
 public:
  Hoister(Patch& patch, VarTable& tab) : patch_(patch), tab_(tab), ab_(static_cast<size_t>(tab.N()), kUnknown) {}

  // Rewrites the tree (a copy of a per-sample record's): its note parts read records of their own.
  // True where it changed.
  bool Rewrite(Form** ppform, int iOwner) {
    Form* pform = *ppform;
    if (pform->et != FormTypeFn || !FormFnIsArithmetic(pform->u.fn.pinfo)) return false;
    bool bChanged = false;
    Form** apArg = pform->u.fn.apformArg;
    const int nArg = pform->u.fn.nArg;
    // A fold from the left ((a0 op a1) op a2 ...) whose first arguments are steady: those steps
    // become one part. MIN and MAX start from a seed, which a part would add a step to: not them.
    int nPrefix = 0;
    if (FormFnFoldsWithoutSeed(pform->u.fn.pinfo))
      while (nPrefix < nArg && Steady(apArg[nPrefix])) ++nPrefix;
    int iArg = 0;
    if (nPrefix >= 2 && nPrefix < nArg) {
      Form* pformPart = FormNewFn(pform->u.fn.pinfo, nPrefix, nPrefix);
      for (int i = 0; i < nPrefix; ++i) pformPart->u.fn.apformArg[i] = apArg[i];
      apArg[0] = FormNewRef(NewPart(pformPart, iOwner));
      for (int i = nPrefix; i < nArg; ++i) apArg[i - nPrefix + 1] = apArg[i];
      pform->u.fn.nArg = nArg - nPrefix + 1;
      iArg = 1;
      bChanged = true;
    }
    for (int i = iArg; i < pform->u.fn.nArg; ++i) {
      Form*& pformArg = pform->u.fn.apformArg[i];
      if (pformArg->et == FormTypeFn && Steady(pformArg)) {
        pformArg = FormNewRef(NewPart(pformArg, iOwner));
        bChanged = true;
      } else {
        bChanged |= Rewrite(&pformArg, iOwner);
      }
    }
    return bChanged;
  }

 private:
  enum : char { kUnknown, kVisiting, kSteady, kVarying };

  // Whether a tree depends only on steady records through steady rows.
  bool Steady(const Form* pform) {
    if (FormIsConstant(pform)) return true;
    if (pform->et == FormTypeRef) return pform->u.iVar >= 0 && SteadyRecord(pform->u.iVar);
    if (pform->et != FormTypeFn || !IsSteadyRow(pform->u.fn.pinfo)) return false;
    for (int i = 0; i < pform->u.fn.nArg; ++i)
      if (!Steady(pform->u.fn.apformArg[i])) return false;
    return true;
  }

  // A record whose value changes only on the events that make a voice's note parts stale: one of
  // the note or slower that is a MIDI value the engine announces, a module output whose module
  // computes nothing per sample, or a formula of steady rows over steady records.
  bool SteadyRecord(int i) {
    char& b = ab_[static_cast<size_t>(i)];
    if (b == kUnknown) {
      b = kVisiting;  // a loop back to it is not steady
      b = Decide(tab_[i]) ? kSteady : kVarying;
    }
    return b == kSteady;
  }
  bool Decide(const Var& var) {
    if (var.evalClass == ClassUnused || var.evalClass > ClassPerNote || var.iHistory) return false;
    // The velocity prefix is consumed by the next note without an announcement.
    if (var.flags & VarFlagMidi) return ControllerIndex(var.pszName) != ControllerHiResVelPrefix;
    if (var.pform) return Steady(var.pform);
    if (!var.pfnOutput || var.iModule < 0) return false;
    for (int j = patch_.aiEndVoice[Patch::EndPerNote]; j < tab_.N(); ++j)
      if (tab_[j].iModule == var.iModule && tab_[j].pfnOutput && !tab_[j].pform) return false;
    return true;
  }

  // A record for the part after the table's records: a number kept in the record itself, placed
  // where its owner is (module, level, line) so that each voice binds it, and named after the
  // owner's module so that neither a name look-up nor a module going through its own records
  // finds it; answers its index.
  int NewPart(Form* pformPart, int iOwner) {
    const Var& varOwner = tab_[iOwner];
    Var var = VarRow(varOwner.pszName, FormTypeNumeric, -1, nullptr, nullptr, 0, 0);
    var.pszModule = AKQuark((std::string(varOwner.pszModule) + " (note part)").c_str());
    var.pszModuleType = varOwner.pszModuleType;
    var.ptype = varOwner.ptype;
    var.iModule = varOwner.iModule;
    var.iModulePP = varOwner.iModulePP;
    VarPlaceAt(var, varOwner);
    var.pform = pformPart;
    var.evalClass = ClassPerNote;
    const int i = tab_.Append(var);
    ab_.push_back(kVarying);
    return i;
  }

  Patch& patch_;
  VarTable& tab_;
  std::vector<char> ab_;
};

}  // namespace

void Patch::HoistNoteParts() {
  if (!apformCodeVoice.empty()) return;  // taken out already
  iNotePartsVoice = tabVoice.N();
  apformCodeVoice.assign(static_cast<size_t>(tabVoice.N()), nullptr);
  if (!bHoist) return;
  Hoister hoister(*this, tabVoice);
  for (int i = aiEndVoice[EndPerNote]; i < iNotePartsVoice; ++i) {
    const Var& var = tabVoice[i];
    if (!var.pform || var.iHistory) continue;
    Form* pform = FormCopy(var.pform);
    if (hoister.Rewrite(&pform, i)) apformCodeVoice[static_cast<size_t>(i)] = pform;
    else FormFree(pform);
  }
  apformCodeVoice.resize(static_cast<size_t>(tabVoice.N()), nullptr);
  const int nParts = tabVoice.N() - iNotePartsVoice;
  if (nParts > 0) AKS(AKSTrace, AK_HERE, "%d parts of per-sample formulas change only with the note", nParts);
}
