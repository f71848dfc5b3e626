// Fast math tables: filling, the power-of-two check and the start-up benchmark.
#include "formula/vanmath.h"

#include <chrono>
#include <cmath>

#include "foundation/akstatus.h"

double VanSineTable[VanSineSize + 1];
double VanSlopeTable[VanSineSize];
double VanCentsTable[VanCentsSize];

namespace {

bool g_bSineFilled = false;
bool g_bRestFilled = false;

void FillSine() {
  // Quarter-wave symmetry makes the table exactly antisymmetric and its peaks exactly +-1.
  constexpr int kQuarter = VanSineSize / 4;
  for (int i = 0; i <= kQuarter; ++i) {
    double d = sin(2.0 * M_PI * i / VanSineSize);
    VanSineTable[i] = d;
    VanSineTable[2 * kQuarter - i] = d;
    VanSineTable[2 * kQuarter + i] = -d;
    VanSineTable[VanSineSize - i] = -d;
  }
  for (int k = 0; k < VanSineSize; ++k)
    VanSlopeTable[k] = (VanSineTable[k + 1] - VanSineTable[k]) * 1.9073486328125e-6;  // 2^-19
}

long long NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Runs the operation in batches of 100000 until 100 ms have passed and logs its rate.
template <class Op>
void Benchmark(const char* pszName, Op op) {
  volatile double dSink = 0;
  long long nOps = 0;
  long long tStart = NowMs(), tElapsed = 0;
  do {
    for (int i = 0; i < 100000; ++i) dSink = dSink + op(-10.0 + (i & 1023) * 0.01953125);
    nOps += 100000;
    tElapsed = NowMs() - tStart;
  } while (tElapsed < 100);
  double dRate = static_cast<double>(nOps) / static_cast<double>(tElapsed) * 1000.0;
  if (dRate > 1e6) AKS(AKSStatus, AK_HERE, " benchmarks %s at %.2fMHz", pszName, dRate * 1e-6);
  else if (dRate > 1e3) AKS(AKSStatus, AK_HERE, " benchmarks %s at %.2fkHz", pszName, dRate * 1e-3);
}

}  // namespace

double FormTwoPower(double x) { return pow(2.0, x); }

double VanTWOPOWER(double x) { return exp2(x); }

void VanMathInitTables() {
  if (!g_bSineFilled) {
    FillSine();
    g_bSineFilled = true;
  }
  for (int i = 0; i < VanCentsSize; ++i) VanCentsTable[i] = pow(2.0, (i - VanCentsOffset) / 1200.0);
  if (g_bRestFilled) return;
  for (double d = -20; d <= 20; d += 0.125)
    if (pow(2.0, d) != FormTwoPower(d)) AKS(AKSError, AK_HERE, "%s", "pow( 2.0, d ) == FormTwoPower( d )");
}

void VanMathInit() {
  bool bFirst = !g_bRestFilled;
  VanMathInitTables();
  if (!bFirst) return;
  g_bRestFilled = true;
  Benchmark("pow()", [](double x) { return pow(2.0, x); });
  Benchmark("VanTWOPOWER()", VanTWOPOWER);
  Benchmark("FormTwoPower()", FormTwoPower);
}
