// The per-patch helpers of the wavetable oscillators: their declarations, the band tables summed
// from harmonics, and the tables read from sample files.
#include "modules/modulehelp.h"
#include "modules/swoperpatch.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <string>

#include "enginecore/settings.h"
#include "formula/errorlist.h"
#include "formula/formparse.h"
#include "foundation/akstatus.h"
#include "foundation/akstring.h"
#include "patch/patch.h"

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

#define SWOPP_IN(name, kind, def) VarIn(#name, kind, VAR_OFFSET(SWOPerPatchVars, d##name), ClassPerPatch, 0, def)
#define SWOPP_OUT(name) VarOut(#name, FormTypeNumeric, VAR_OFFSET(SWOPerPatchVars, d##name), ClassPerPatch, 0, nullptr)

Var avarSWOPerPatchInputs[] = {SWOPP_IN(Waveform, FormTypeKeyword, "Unset"),
                               SWOPP_IN(SampleFreqMin, FormTypeNumeric, "27.5-.5 semi"),
                               SWOPP_IN(SampleFreqMax, FormTypeNumeric, "10000"),
                               SWOPP_IN(SampleRange, FormTypeNumeric, "3 semis"),
                               SWOPP_IN(HarmFreqMax, FormTypeNumeric, "20000"),
                               SWOPP_IN(HarmonicForm, FormTypeNumeric, "0"),
                               SWOPP_IN(PhaseForm, FormTypeNumeric, "0"),
                               SWOPP_IN(OversampForm, FormTypeNumeric, "IF( FreqTo < 3000, 4, 8 )"),
                               SWOPP_IN(DenomPower, FormTypeNumeric, "1"),
                               SWOPP_IN(SampleFile, FormTypeString, nullptr),
                               SWOPP_IN(SampleFormat, FormTypeNumeric, "8"),
                               SWOPP_IN(FixedFilter, FormTypeNumeric, "0 dB"),
                               VarEnd};
Var avarLFSWOPerPatchInputs[] = {SWOPP_IN(Waveform, FormTypeKeyword, "Unset"),
                                 SWOPP_IN(FixedFilter, FormTypeNumeric, "0 dB"),
                                 SWOPP_IN(Samples, FormTypeNumeric, "5000"),
                                 SWOPP_IN(HarmTo, FormTypeNumeric, "1000"),
                                 SWOPP_IN(HarmonicForm, FormTypeNumeric, "0"),
                                 SWOPP_IN(PhaseForm, FormTypeNumeric, "0"),
                                 SWOPP_IN(DenomPower, FormTypeNumeric, "0"),
                                 SWOPP_IN(SampleFile, FormTypeString, nullptr),
                                 SWOPP_IN(SampleFormat, FormTypeNumeric, "8"),
                                 VarEnd};
// Both helpers share their outputs: the values the formulas read while a table is built.
Var avarSWOPerPatchOutputs[] = {SWOPP_OUT(FreqFrom), SWOPP_OUT(FreqTo), SWOPP_OUT(FreqHarm), SWOPP_OUT(Harmonic),
                                VarEnd};

#undef SWOPP_IN
#undef SWOPP_OUT

// What the two table helpers mean alike.
const VarHelp ahelpTablesShared[] = {
    {"Waveform",
     "keyword, per patch: Sawtooth, Square, Triangle, Sine or Formula (HarmonicForm); Unset picks one of those"},
    {"HarmonicForm",
     "per patch: the amplitude of harmonic Harmonic (a formula of Harmonic, FreqHarm, FreqFrom, FreqTo)"},
    {"PhaseForm", "per patch: the phase in cycles of harmonic Harmonic"},
    {"DenomPower", "per patch: harmonic N's amplitude is divided by N to this power"},
    {"FixedFilter", "per patch: a gain applied per octave of harmonic frequency, e.g. -6 dB darkens"},
    {"SampleFile", "per patch: a file of 8-bit unsigned single-cycle samples to read instead of computing"},
    {"SampleFormat", "per patch: bits per sample of SampleFile; samples are always read as 8-bit"},
    {"FreqFrom", "Hz: the lowest frequency of the band being built"},
    {"FreqTo", "Hz: the highest frequency of the band being built"},
    {"FreqHarm", "Hz: the frequency of the harmonic being added, at FreqFrom"},
    {"Harmonic", "the number of the harmonic being added, 1 up"},
    {"Harm<N>", "the amplitude of harmonic N, overriding Waveform and HarmonicForm for it"},
    {"SampleLoc<N>", "with SampleFile: where sample N starts in the file, in bytes"},
    {"SampleLen<N>", "with SampleFile: the length of sample N, in bytes"},
    {"SampleFreq<N>", "with SampleFile: Hz, the lowest frequency sample N serves"},
    {}};
const VarHelp ahelpSWOPerPatch[] = {
    {"SampleFreqMin", "per patch, Hz: the lowest frequency the bands cover"},
    {"SampleFreqMax", "per patch, Hz: the highest frequency the bands cover"},
    {"SampleRange", "per patch, ratio: the width of one band, e.g. 3 semis"},
    {"HarmFreqMax", "per patch, Hz: harmonics above this at a band's lowest frequency are left out"},
    {"OversampForm", "per patch: table points per highest harmonic for a band (reads FreqTo)"},
    {}};
ModuleTypeTmpl<ModSWOPerPatch> typeSWOPerPatch("SWOPerPatch", avarSWOPerPatchInputs, avarSWOPerPatchOutputs,
                                               AttrRegistered, nullptr, OrderSWOPerPatch,
                                               ahelpSWOPerPatch, ahelpTablesShared);
const VarHelp ahelpLFSWOPerPatch[] = {
    {"Samples", "per patch: the points of the one table"},
    {"HarmTo", "per patch: the highest harmonic summed"},
    {}};
ModuleTypeTmpl<ModSWOPerPatch> typeLFSWOPerPatch("LFSWOPerPatch", avarLFSWOPerPatchInputs, avarSWOPerPatchOutputs,
                                                 AttrRegistered, nullptr, OrderLFSWOPerPatch,
                                                 ahelpLFSWOPerPatch, ahelpTablesShared);

// Unsigned 8-bit samples have their zero at 127 and step 1/128: -0.9921875 .. 1.
constexpr double kSampleZero = 127;
constexpr double kSampleStep = 0.0078125;

// Calls fn for every record of the module (same module name and level, the variable itself): its
// own records when the compiler listed them, else the whole table's.
template <class Fn>
void ForOwnRecords(Module& mod, Fn fn) {
  Var* avar = mod.ppavarTable ? *mod.ppavarTable : nullptr;
  if (!avar) return;
  auto bOwn = [&](const Var& var) {
    return var.iLevel == mod.iLevel && var.iHistory == 0 && AKstrcmp(var.pszModule, mod.pszName) == 0;
  };
  if (mod.paiRecords) {
    for (int i : *mod.paiRecords)
      if (bOwn(avar[i])) fn(&avar[i]);
    return;
  }
  for (Var* pvar = avar; pvar->pszName; ++pvar)
    if (bOwn(*pvar)) fn(pvar);
}

// A record's value, evaluated afresh.
double Fresh(Var* pvar) {
  FormVarRefresh(pvar);
  return *pvar->pvalue;
}

// A value that refreshes its record when it varies (constant records were evaluated by GetVar).
double Current(Var* pvar, double dStored) {
  if (!pvar) return dStored;
  return Fresh(pvar);
}

}  // namespace

ModSWOPerPatch::ModSWOPerPatch(ModuleType* ptype_, const char* pszName_, Patch* ppatch_, Voice* pvoice_,
                               bool bPerPatch_, int iLevel_, Module*)
    : Module(ptype_, pszName_, ppatch_, pvoice_, bPerPatch_, iLevel_),
      bLow_(ptype_ && ptype_->avarInputs == avarLFSWOPerPatchInputs) {
  pvVars = &v;
  // The defaults of the tables, for variables that end without a formula.
  v.dWaveform = KwUnset;
  v.dSampleFreqMin = 27.5 / std::exp2(0.5 / 12);  // half a semitone below A0
  v.dSampleFreqMax = 10000;
  v.dSampleRange = std::exp2(3.0 / 12);  // 3 semitones
  v.dHarmFreqMax = 20000;
  v.dSamples = 5000;
  v.dHarmTo = 1000;
  v.dOversampForm = 4;
  v.dDenomPower = bLow_ ? 0 : 1;
  v.dFixedFilter = 1;  // 0 dB
  v.dSampleFormat = 8;
}

int ModSWOPerPatch::LineOf(const char* pszVar) {
  const Var* pvar = FindVar(pszVar);
  return pvar ? pvar->iLine : -1;
}

SWOBand ModSWOPerPatch::SilentBand(double dFreqLow) {
  SWOBand band;
  band.dFreqLow = dFreqLow;
  band.n = 1;
  band.adTable.assign(1 + 2 * SWOBand::kGuard, 0.0);
  return band;
}

int ModSWOPerPatch::Init() {
  if (const InterpreterSettings* pengine = TheEngine()) dFreqEval_ = pengine->dFreqEval;
  aband_.clear();
  // The compiler removed the helper's variables (nothing reads the oscillator): no tables.
  Var* pvarHarmonicForm = FindVar("HarmonicForm");
  if (!pvarHarmonicForm) return 0;

  // The waveform is kept apart from its variable, which the harmonic walk evaluates again.
  if (Var* pvarWaveform = GetVar("Waveform")) FormVarRefresh(pvarWaveform);  // per-patch: once is enough
  const double dWave = v.dWaveform;
  iWave_ = dWave == std::trunc(dWave) && std::fabs(dWave) < 1e9 ? static_cast<int>(dWave) : -1;
  if (iWave_ == KwUnset) {
    const Form* pform = pvarHarmonicForm->pform;
    const bool bZero = !pform || (pform->et == FormTypeNumeric && pform->u.value == 0);
    iWave_ = bZero ? KwSawtooth : KwFormula;
  }

  // A sample file is a text value; any other value of SampleFile names none.
  const char* pszFile = nullptr;
  if (Var* pvarFile = FindVar("SampleFile"); pvarFile && pvarFile->pform &&
                                             FormResultType(pvarFile->pform, pvarFile->avarTable) == FormTypeString) {
    pszFile = FormStringText(Fresh(pvarFile));
  }
  const int iResult = pszFile && *pszFile ? ReadSampleFile(pszFile) : BuildFromHarmonics();
  if (iResult != 0) {
    aband_.clear();  // an oscillator of a failed helper plays silence, never half a table
    return 1;
  }
  FinishBands();
  return 0;
}

void ModSWOPerPatch::FinishBands() {
  if (aband_.empty()) aband_.push_back(SilentBand(-DBL_MAX));
  aband_.push_back(SilentBand(DBL_MAX));
  for (SWOBand& band : aband_) {
    const int n = band.n;
    if (n <= 0) continue;
    double* pd = band.Points();
    for (int k = 1; k <= SWOBand::kGuard; ++k) {
      pd[-k] = pd[((n - k) % n + n) % n];
      pd[n - 1 + k] = pd[(k - 1) % n];
    }
  }
  aband_.front().dFreqLow = -DBL_MAX;
}

int ModSWOPerPatch::BuildFromHarmonics() {
  Var* pvarHarmTo = GetVar("HarmTo");
  Var* pvarOversamp = GetVar("OversampForm");
  pvarHarmonicForm_ = GetVar("HarmonicForm");
  pvarPhaseForm_ = GetVar("PhaseForm");
  pvarDenomPower_ = GetVar("DenomPower");
  pvarFixedFilter_ = GetVar("FixedFilter");
  Var* pvarSamples = GetVar("Samples");

  // The numbered harmonics, in ascending order; every input of the module is evaluated once.
  std::vector<std::pair<int, Var*>>& aharm = aharm_;
  aharm.clear();
  ForOwnRecords(*this, [&](Var* pvar) {
    int iHarm;
    if (IsNumberedName(pvar->pszName, "Harm", &iHarm)) aharm.emplace_back(iHarm, pvar);
    bool bOutput = false;
    for (const Var* pvarRow = ptype->avarOutputs; pvarRow->pszName; ++pvarRow)
      bOutput |= strcmp(pvarRow->pszName, pvar->pszName) == 0;
    if (!bOutput && pvar->pform) FormVarRefresh(pvar);
  });
  std::sort(aharm.begin(), aharm.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

  // The band grid: "LFSWOPerPatch" has one band whose table has Samples points.
  double dOversamp = v.dOversampForm;
  double dFreqMin, dFreqMax, dRange, dHarmMax;
  const char* pszMinVar = "SampleFreqMin";
  const char* pszHarmVar = "HarmFreqMax";
  if (bLow_) {
    const double dSamples = Current(pvarSamples, v.dSamples);
    const double dHarmTo = Current(pvarHarmTo, v.dHarmTo);
    if (!(dSamples >= 1 && dSamples <= kMaxPoints)) {
      ERRADD(LineOf("Samples"), "%s:Samples must be from 1 to %d; it is %g", pszName, kMaxPoints, dSamples);
      return 1;
    }
    const double u = dFreqEval_ / dSamples;
    dOversamp = 1;
    dFreqMin = u;
    dFreqMax = 1.01 * u;
    dRange = 2;
    dHarmMax = dHarmTo * u;
    pszMinVar = "Samples";
    pszHarmVar = "HarmTo";
  } else {
    dFreqMin = v.dSampleFreqMin;
    dFreqMax = v.dSampleFreqMax;
    dRange = v.dSampleRange;
    dHarmMax = v.dHarmFreqMax;
    if (!(dRange > 1)) {
      ERRADD(LineOf("SampleRange"), "%s:SampleRange must be positive; replacing value %g with 2", pszName, dRange);
      dRange = 2;
    }
    if (!(dFreqMin > 0) || !std::isfinite(dFreqMin)) {
      ERRADD(LineOf("SampleFreqMin"), "%s:SampleFreqMin must be a positive frequency; it is %g", pszName, dFreqMin);
      return 1;
    }
  }
  if (std::isnan(dHarmMax) || dHarmMax == HUGE_VAL) {
    ERRADD(LineOf(pszHarmVar), "%s:%s must be a finite number", pszName, pszHarmVar);
    return 1;
  }

  double dWork = 0;    // harmonic points summed so far
  double dPoints = 0;  // table points so far
  for (double f = dFreqMin; f < dFreqMax; f *= dRange) {
    if (static_cast<int>(aband_.size()) >= kMaxBands) {
      ERRADD(LineOf(std::isfinite(dFreqMax) ? "SampleRange" : "SampleFreqMax"),
             "%s: SampleFreqMin to SampleFreqMax in steps of SampleRange makes more than %d bands", pszName, kMaxBands);
      return 1;
    }
    v.dFreqFrom = f;
    v.dFreqTo = dRange * f;
    if (pvarOversamp) dOversamp = Fresh(pvarOversamp);
    if (!(dOversamp > 0) || !std::isfinite(dOversamp)) {
      ERRADD(LineOf("OversampForm"), "%s:OversampForm must be positive; it is %g", pszName, dOversamp);
      return 1;
    }
    // Table points: ceil(FreqEval / f * oversampling). The relative nudge keeps a quotient that
    // rounding put a hair above a whole number (FreqEval / (FreqEval / Samples)) on that number.
    const double dTable = std::ceil(dFreqEval_ / f * dOversamp * (1 - 1e-12));
    if (!(dTable <= kMaxPoints)) {
      ERRADD(LineOf(pszMinVar), "%s: the band from %g Hz needs a table of %.0f points, more than %d", pszName, f,
             dTable, kMaxPoints);
      return 1;
    }
    dPoints += dTable;
    if (dPoints > kMaxTotalPoints) {
      ERRADD(LineOf(pszMinVar), "%s: the bands need more than %d table points in all", pszName, kMaxTotalPoints);
      return 1;
    }
    SWOBand band;
    band.dFreqLow = f;
    band.n = std::max(1, static_cast<int>(dTable));
    band.adTable.assign(static_cast<size_t>(band.n) + 2 * SWOBand::kGuard, 0.0);
    dWork += (f <= dHarmMax ? std::floor(dHarmMax / f) : 0) * band.n;
    if (dWork > kMaxHarmonicPoints) {
      ERRADD(LineOf(pszHarmVar), "%s: the tables would sum %.3g harmonic points, more than %.3g; lower %s", pszName,
             dWork, kMaxHarmonicPoints, pszHarmVar);
      return 1;
    }
    if (AddHarmonics(band, dHarmMax) != 0) return 1;
    if (bLow_) {
      // Rescaled to -1..1; a flat table has no scale and becomes all 0.
      double* pd = band.Points();
      const auto [itLo, itHi] = std::minmax_element(pd, pd + band.n);
      const double dLo = *itLo, dHi = *itHi;
      for (int j = 0; j < band.n; ++j) pd[j] = dHi > dLo ? (pd[j] - dLo) * 2 / (dHi - dLo) - 1 : 0;
    }
    aband_.push_back(std::move(band));
  }
  aharm.clear();
  return 0;
}

int ModSWOPerPatch::AddHarmonics(SWOBand& band, double dHarmMax) {
  const std::vector<std::pair<int, Var*>>& aharm = aharm_;
  const int n = band.n;
  const double f = band.dFreqLow;
  double* pd = band.Points();
  // One cycle of sine and cosine at the table's points: harmonic i at point j is point
  // (i * j) mod n of them, exactly, and a phase turns them by its sine and cosine.
  std::vector<double> adSin(static_cast<size_t>(n)), adCos(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    adSin[static_cast<size_t>(k)] = std::sin(kTwoPi * k / n);
    adCos[static_cast<size_t>(k)] = std::cos(kTwoPi * k / n);
  }
  const int iWave = Waveform();
  size_t iNext = 0;  // the first numbered harmonic not passed yet
  for (int i = 1; i * f <= dHarmMax; ++i) {
    v.dHarmonic = i;
    v.dFreqHarm = i * f;
    while (iNext < aharm.size() && aharm[iNext].first < i) ++iNext;
    double a;
    int iLineAmp;
    if (iNext < aharm.size() && aharm[iNext].first == i) {
      a = Fresh(aharm[iNext].second);
      iLineAmp = aharm[iNext].second->iLine;
    } else {
      iLineAmp = LineOf("HarmonicForm");
      switch (iWave) {
        case KwSawtooth: a = 1; break;
        case KwSquare: a = 0.5; break;  // half a sawtooth: the oscillator subtracts two reads
        case KwTriangle: a = i % 2 == 0 ? 0 : i % 4 == 3 ? -1.0 / i : 1.0 / i; break;
        case KwSine: a = i == 1 ? 1 : 0; break;
        case KwFormula: a = Current(pvarHarmonicForm_, v.dHarmonicForm); break;
        default: a = 0; break;
      }
    }
    if (a == 0) continue;
    const double dDenom = Current(pvarDenomPower_, v.dDenomPower);
    const double dGain = Current(pvarFixedFilter_, v.dFixedFilter);
    const double dPhase = Current(pvarPhaseForm_, v.dPhaseForm);
    const double A = dGain * a / std::pow(i, dDenom);
    const double c = std::cos(kTwoPi * dPhase), s = std::sin(kTwoPi * dPhase);
    if (!std::isfinite(A) || !std::isfinite(c) || !std::isfinite(s)) {
      ERRADD(std::isfinite(A) ? LineOf("PhaseForm") : iLineAmp,
             "%s: harmonic %d has amplitude %g and phase %g; both must be finite", pszName, i, A, dPhase);
      return 1;
    }
    const double As = A * s, Ac = A * c;
    const int iStep = i % n;
    for (int j = 0, k = 0; j < n; ++j) {
      pd[j] += Ac * adSin[static_cast<size_t>(k)] + As * adCos[static_cast<size_t>(k)];
      k += iStep;
      if (k >= n) k -= n;
    }
  }
  return 0;
}

int ModSWOPerPatch::ReadSampleFile(const char* pszFile) {
  // The samples' records: sample N becomes band N - 1.
  std::vector<SWOBand> aband;
  bool bFound = false, bBad = false;
  ForOwnRecords(*this, [&](Var* pvar) {
    int iSample = 0, iKind = -1;
    const char* const apszPrefix[] = {"SampleLoc", "SampleLen", "SampleFreq"};
    for (int k = 0; k < 3 && iKind < 0; ++k)
      if (IsNumberedName(pvar->pszName, apszPrefix[k], &iSample)) iKind = k;
    if (iKind < 0 || bBad) return;
    AKS(AKSStatus, AK_HERE, "found sample %s", pvar->pszName);
    if (iSample > kMaxSampleNumber) {
      ERRADD(pvar->iLine, "%s:%s: samples are numbered from 1 to %d", pszName, pvar->pszName, kMaxSampleNumber);
      bBad = true;
      return;
    }
    bFound = true;
    if (static_cast<int>(aband.size()) <= iSample) aband.resize(static_cast<size_t>(iSample) + 1);
    SWOBand& band = aband[static_cast<size_t>(iSample)];
    const double d = pvar->pform ? Fresh(pvar) : *pvar->pvalue;
    if (iKind == 2) {
      band.dFreqLow = d;
      return;
    }
    // Offsets and sizes are whole bytes within what a table may hold and a 32-bit offset reach.
    const double dMax = iKind == 0 ? 2147483647.0 : kMaxPoints;
    if (!(d >= 0 && d <= dMax)) {
      ERRADD(pvar->iLine, "%s:%s = %g must be from 0 to %.0f", pszName, pvar->pszName, d, dMax);
      bBad = true;
      return;
    }
    (iKind == 0 ? band.iOffset : band.n) = static_cast<int>(d);
    band.iLine = pvar->iLine;
  });
  if (bBad) return 1;
  if (!bFound) {
    AKS(AKSWarn, AK_HERE, "%s:SampleFile = %s but no individual samples specified\n", pszName, pszFile);
    ERRADD(LineOf("SampleFile"), "%s:SampleFile = %s but no individual samples specified\n", pszName, pszFile);
    return 1;
  }

  // Paths are relative to the installation; the patch may write them with either slash.
  std::string sName(pszFile);
  std::replace(sName.begin(), sName.end(), '\\', '/');
  const std::string sPath = (std::filesystem::path(PatchInstallDir()) / sName).string();
  FILE* pf = fopen(sPath.c_str(), "rb");
  if (!pf) {
    const char* pszError = strerror(errno);
    AKS(AKSWarn, AK_HERE, "%s:SampleFile - open( %s ) = -1: %s\n", pszName, sPath.c_str(), pszError);
    ERRADD(LineOf("SampleFile"), "%s:SampleFile - open( %s ) = -1: %s\n", pszName, sPath.c_str(), pszError);
    return 1;
  }
  long nFileBytes = -1;
  if (fseek(pf, 0, SEEK_END) == 0) nFileBytes = ftell(pf);

  aband.erase(aband.begin());
  std::vector<unsigned char> abyte;
  int iResult = 0;
  for (SWOBand& band : aband) {
    band.adTable.assign(static_cast<size_t>(band.n) + 2 * SWOBand::kGuard, 0.0);
    abyte.resize(static_cast<size_t>(band.n));
    // A sample that runs past the end of the file is a short read, found before reading.
    errno = 0;
    size_t nRead = 0;
    if (nFileBytes >= 0 && static_cast<long>(band.iOffset) + band.n <= nFileBytes && fseek(pf, band.iOffset, SEEK_SET) == 0)
      nRead = fread(abyte.data(), 1, abyte.size(), pf);
    if (nRead != abyte.size()) {
      const char* pszError = errno ? strerror(errno) : "the file ends before the sample does";
      ERRADD(band.iLine >= 0 ? band.iLine : LineOf("SampleFile"), "%s:SampleFile - read( %s ) = -1: %s\n", pszName,
             sPath.c_str(), pszError);
      iResult = 1;
      break;
    }
    double* pd = band.Points();
    for (int j = 0; j < band.n; ++j) pd[j] = (abyte[static_cast<size_t>(j)] - kSampleZero) * kSampleStep;
    AKS(AKSTrace, AK_HERE, "read %d bytes to %p", band.n, static_cast<void*>(pd));
  }
  fclose(pf);
  if (iResult == 0) aband_ = std::move(aband);
  return iResult;
}
