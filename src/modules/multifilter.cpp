// The "MultiFilter" module: bands of the filter kernels, built once from the patch's numbered
// variables, re-cooked only when a varying frequency, gain, q or type changes.
#include "modules/modulehelp.h"
#include "modules/multifilter.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "enginecore/settings.h"
#include "formula/errorlist.h"
#include "formula/formenum.h"
#include "foundation/akstring.h"
#include "modules/filters/filterfactory.h"

namespace {

Var avarInputs[] = {
    VarIn("Input", FormTypeNumeric, VAR_OFFSET(MultiFilterVars, dInput), 0, 0, "0"),
    VarIn("GainMaster", FormTypeNumeric, VAR_OFFSET(MultiFilterVars, dGainMaster), 0, 0, "1"),
    VarIn("Bands", FormTypeNumeric, VAR_OFFSET(MultiFilterVars, dBands), 0, 0, "0"),
    VarIn("Layout", FormTypeKeyword, VAR_OFFSET(MultiFilterVars, dLayout), 0, 0, "Serial"),
    VarIn("TypeDefault", FormTypeKeyword, VAR_OFFSET(MultiFilterVars, dTypeDefault), 0, 0, "ParametricConst"),
    VarIn("Bypass", FormTypeBoolean, VAR_OFFSET(MultiFilterVars, dBypass), 0, 0, "false"),
    VarEnd};
Var avarOutputs[] = {VarOut("Output", FormTypeNumeric, VAR_OFFSET(MultiFilterVars, dOutput), 0, 0), VarEnd};

const VarHelp ahelpMultiFilter[] = {
    {"Input", ModHelp::kAudioInput},
    {"GainMaster", "linear factor applied to the whole filter's output; 1 leaves the level"},
    {"Bands", "constant: the number of bands the default q is made for (each band 10/Bands octaves wide), 1..64"},
    {"Layout", "constant keyword: Serial (bands one after another) or Parallel (bands side by side, summed)"},
    {"TypeDefault", "constant keyword: the kernel type of a band without TypeN, e.g. ParametricConst, LPF2, HiShelf2"},
    {"Bypass", ModHelp::kBypassPasses},
    {"Output", ModHelp::kOutput},
    {"Type<N>",
     "keyword: band N's kernel, e.g. LPF2, HPF2, BPF2, LoShelf2, HiShelf2, ParametricConst (default TypeDefault)"},
    {"Freq<N>", "Hz: band N's frequency (default N)"},
    {"Gain<N>", "linear: band N's gain for the shelf and peaking kernels, e.g. 6 dB (default 1; never 0)"},
    {"Q<N>", "band N's quality: higher is narrower, about 0.3..20 (default from Bands, else 1)"},
    {}};
ModuleTypeTmpl<ModMultiFilter> typeMultiFilter("MultiFilter", avarInputs, avarOutputs,
                                               AttrRegistered | AttrBypassPasses | AttrMultiMono, nullptr,
                                               OrderMultiFilter, ahelpMultiFilter);

// The band variables, by the slot they fill.
enum BandSlot { SlotType, SlotFreq, SlotGain, SlotQ, SlotCount };
constexpr const char* kapszPrefix[SlotCount] = {"Type", "Freq", "Gain", "Q"};

// The band a variable name belongs to, and its slot; false for any other name.
bool BandOf(const char* pszVar, int* piBand, int* piSlot) {
  for (int iSlot = 0; iSlot < SlotCount; ++iSlot)
    if (IsNumberedName(pszVar, kapszPrefix[iSlot], piBand)) {
      *piSlot = iSlot;
      return true;
    }
  return false;
}

// A keyword number from a value; anything that is not one becomes −1, which names no filter type.
int KeywordOf(double d) { return d >= 0 && d < INT_MAX ? static_cast<int>(d) : -1; }

// The band's own variables, constant or not: a constant one is evaluated now into *pd (a numbered
// variable has no module storage, so the value is copied from its record) and answers null; a
// varying one answers its record. An absent record leaves *pd alone.
Var* Bind(Module* pmodule, Var* pvar, double* pd) {
  if (!pvar || !pvar->pform) return nullptr;
  if (Var* pvarVarying = pmodule->GetVar(pvar->pszName)) return pvarVarying;
  *pd = *pvar->pvalue;
  return nullptr;
}

}  // namespace

bool ModMultiFilter::IsNumberedInput(const char* pszVar) {
  int iBand, iSlot;
  return BandOf(pszVar, &iBand, &iSlot);
}

double ModMultiFilter::DefaultQ(double nBands) {
  if (!(nBands >= 1)) return 1;
  if (nBands > BandsMax) nBands = BandsMax;
  double u = std::exp2(10 / nBands);  // the band's edges are u times apart
  return std::sqrt(u) / (u - 1);
}

ModMultiFilter::ModMultiFilter(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch,
                               int iLevel, Module*)
    : ModFilterBase(ptype, pszName, ppatch, pvoice, bPerPatch, iLevel) {
  pvVars = &v;
}

int ModMultiFilter::Init() {
  FindInputAndBypass();
  pvarGainMaster_ = GetVar("GainMaster");
  if (!pvarInput_) return 0;

  if (Var* pvar = GetVar("Layout")) {
    ERRADD(pvar->iLine, "%s:Layout must be a constant; using Serial", pszName);
    v.dLayout = KwSerial;
  }
  bParallel_ = v.dLayout == static_cast<double>(KwParallel);

  if (Var* pvar = GetVar("Bands")) {
    ERRADD(pvar->iLine, "%s:Bands must be a numeric constant; ignoring", pszName);
    v.dBands = 0;
  } else if (v.dBands > BandsMax) {
    v.dBands = BandsMax;
  }

  if (Var* pvar = GetVar("TypeDefault")) {
    ERRADD(pvar->iLine, "%s:TypeDefault must be a constant; using ParametricConst", pszName);
    v.dTypeDefault = FormEnumLookup("ParametricConst");
  }

  BuildBands();
  NoteStart();  // a per-patch module may never see a note
  return 0;
}

void ModMultiFilter::BuildBands() {
  // The bands the patch names, in band order, each first with its defaults.
  Var* avar = *ppavarTable;
  double dQDefault = DefaultQ(v.dBands), dRate = TheEngine()->dFreqEval;
  for (Var* pvar = avar; pvar->pszName; ++pvar) {
    int iBand, iSlot;
    if (pvar->iLevel != iLevel || pvar->iHistory != 0 || AKstrcmp(pvar->pszModule, pszName) != 0 ||
        !BandOf(pvar->pszName, &iBand, &iSlot))
      continue;
    int i = 0;
    while (i < aband_.N() && aband_[i].iBand < iBand) ++i;
    if (i == aband_.N() || aband_[i].iBand != iBand) {
      Band band{};
      band.filter.SetSampleRate(dRate);
      band.dFreq = iBand;
      band.dGain = 1;
      band.dQ = dQDefault;
      band.dType = v.dTypeDefault;
      band.iBand = iBand;
      aband_.Insert(i, band);
    }
    pvar->type = iSlot == SlotType ? FormTypeKeyword : FormTypeNumeric;
    Var** apvar[SlotCount] = {&aband_[i].pvarType, &aband_[i].pvarFreq, &aband_[i].pvarGain, &aband_[i].pvarQ};
    *apvar[iSlot] = pvar;
  }

  // Each band: bound, typed, then dropped when it would do nothing, cooked now when nothing of it
  // varies, or put on the work list. The array does not move from here on.
  awork_.Reserve(5 * aband_.N());
  for (int i = 0; i < aband_.N();) {
    Band& band = aband_[i];
    Work awork[SlotCount + 1];  // this band's work, kept only if the band stays
    int nWork = 0;
    band.dFreqCooked = band.dGainCooked = band.dQCooked = NAN;  // whatever varies is cooked first time

    Var* pvarType = Bind(this, band.pvarType, &band.dType);
    if (pvarType) awork[nWork++] = {pvarType, &band.dType, &band};
    FilterFactory::Get()->ChangeType(KeywordOf(band.dType), band.filter);
    band.dTypeCooked = band.dType;

    Var* pvarFreq = Bind(this, band.pvarFreq, &band.dFreq);
    Var* pvarGain = Bind(this, band.pvarGain, &band.dGain);
    Var* pvarQ = Bind(this, band.pvarQ, &band.dQ);
    struct {
      Var* pvar;
      double *pd, *pdCooked;
    } aValue[] = {{pvarFreq, &band.dFreq, &band.dFreqCooked},
                  {pvarGain, &band.dGain, &band.dGainCooked},
                  {pvarQ, &band.dQ, &band.dQCooked}};
    for (auto& value : aValue) {
      if (value.pvar) awork[nWork++] = {value.pvar, value.pd, nullptr};
      else *value.pdCooked = *value.pd;
    }
    if (band.pvarGain && !pvarGain && band.dGain == 0)
      ERRADD(band.pvarGain->iLine, "%s:Gain%d must not be 0, should be 0dB for no action", pszName, band.iBand);

    if (band.dGain == 1 && !pvarGain && !pvarType && band.filter.HasGain()) {
      aband_.Remove(i);  // only bands before i are on the work list, and they do not move
      continue;
    }
    if (nWork > 0) {
      awork[nWork++] = {nullptr, nullptr, &band};
      for (int iWork = 0; iWork < nWork; ++iWork) awork_.Add(awork[iWork]);
    } else {
      band.filter.Cook(band.dFreq, band.dGain, band.dQ);
    }
    ++i;
  }
}

void ModMultiFilter::NoteStart() {
  ForgetClock();
  for (Band& band : aband_) {
    band.dFreqCooked = DBL_MIN;  // forces bands with varying values to cook again
    band.filter.Clear();
  }
}

void ModMultiFilter::Calc() {
  if (!BeginCalc(v.dBypass)) return;
  double dIn = Input();
  if (v.dBypass != 0) {
    v.dOutput = dIn;
    return;
  }
  v.dGainMaster = Pull(pvarGainMaster_, v.dGainMaster);

  for (Work& work : awork_) {
    if (work.pvar) {
      FormVarEval(work.pvar);
      *work.pdField = *work.pvar->pvalue;
      Band* pband = work.pband;  // a TypeN: the band follows its type at once
      if (pband && pband->dType != pband->dTypeCooked)
        FilterFactory::Get()->ChangeType(KeywordOf(pband->dType), pband->filter);
      continue;
    }
    Band& band = *work.pband;
    if (band.dFreq != band.dFreqCooked || band.dGain != band.dGainCooked || band.dQ != band.dQCooked ||
        band.dType != band.dTypeCooked) {
      band.filter.Cook(band.dFreq, band.dGain, band.dQ);
      band.dFreqCooked = band.dFreq;
      band.dGainCooked = band.dGain;
      band.dQCooked = band.dQ;
      band.dTypeCooked = band.dType;
    }
  }

  if (!bParallel_) {
    double d = dIn;
    for (Band& band : aband_) d = band.filter.Calc(d);
    v.dOutput = v.dGainMaster * d;
  } else if (aband_.N() > 0) {
    double dSum = 0;
    for (Band& band : aband_) dSum += band.filter.Calc(dIn);
    v.dOutput = v.dGainMaster / aband_.N() * dSum;
  } else {
    // No band left: every band that was dropped would have passed the input unchanged, so the
    // bank passes it, as the serial layout does.
    v.dOutput = v.dGainMaster * dIn;
  }
}
