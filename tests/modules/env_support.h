// Helpers of the envelope and control tests: an envelope harness with note-off, error-list checks.
#pragma once

#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "error_support.h"
#include "module_harness.h"
#include "modules/envelope.h"

// The sample rate of most tests.
constexpr double kEnvRate = 44100;
// "-46dB", the default Epsilon, as a gain.
inline double DefaultEpsilon() { return std::pow(10.0, -46.0 / 20.0); }

using EnvSettings = std::vector<std::pair<const char*, const char*>>;

// Context records Module:Name that the test's formulas read and the test sets.
using EnvContext = std::vector<std::pair<const char*, const char*>>;

// An envelope (or any module) of the given type with the records its default release trigger
// reads: Note:NoteOff and Channel:DamperPdl, both 0 until the test sets them.
inline std::unique_ptr<ModuleHarness> StartEnvelope(const char* pszType, const EnvSettings& aSet,
                                                    double dRate = kEnvRate, const EnvContext& aContext = {}) {
  EnvRegisterStageTypes();
  auto ph = std::make_unique<ModuleHarness>(pszType, dRate);
  ph->FoldConstants();  // Epsilon must be constant, and "-46dB" is one only once folded
  ph->AddContext("Note", "NoteOff");
  ph->AddContext("Channel", "DamperPdl");
  for (const auto& ctx : aContext) ph->AddContext(ctx.first, ctx.second);
  for (const auto& set : aSet) ph->Set(set.first, set.second);
  EXPECT_EQ(ph->Start(), 0);
  return ph;
}

