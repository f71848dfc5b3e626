// The engine's buffer path allocates nothing once the device is open: mixing, the output
// stage, the recording tap and the hand-over to the device.
#include <gtest/gtest.h>

#include <memory>

#include "alloc_counter.h"
#include "engine/interpreter.h"
#include "engine_support.h"
#include "patch/structural.h"

namespace {

// A device that keeps nothing: only the engine's own work is counted.
class SilentOutput : public AudioOutput {
 public:
  int Open(const WaveFormat&, AudioMessageQueue*, void*) override { return WaveOk; }
  int Prepare(WaveBuffer* pbuf) override {
    pbuf->uFlags.fetch_or(WaveBufPrepared);
    return WaveOk;
  }
  int Unprepare(WaveBuffer*) override { return WaveOk; }
  int Write(WaveBuffer*) override {
    ++nWritten;
    return WaveOk;
  }
  int Reset() override { return WaveOk; }
  int Close() override { return WaveOk; }
  std::string Describe() const override { return "silent"; }
  long Underruns() const override { return 0; }
  bool Lost() const override { return false; }
  int nWritten = 0;
};

TEST(RenderAllocationTest, RenderBufferAllocatesNothing) {
  PatchTable table;
  AKConfig_T* pconf = AKConfigNew("Interpreter", nullptr);
  AKConfigSet(pconf, "BufferSamples", "64");
  auto pengine = std::make_unique<Interpreter>(pconf, &table);
  AKConfigFree(pconf);
  CreateChannelModules();
  auto pout = std::make_unique<SilentOutput>();
  SilentOutput* pdevice = pout.get();
  pengine->SetOutput(std::move(pout));
  std::vector<double> ad(64 * 2 * 20, 0.5);
  ad[700] = 1.7;  // an auto-reduction on the way
  table.aslot.SetSize(2);
  table.aslot[1].ppatch = new ScriptPatch(pengine.get(), ad);
  SampleTap tap(1 << 16);
  pengine->SetTap(&tap);
  pengine->OpenDevice();
  long nBefore = pengine->BuffersRendered();
  {
    AllocationCounter counter;
    for (int i = 0; i < 10; ++i) pengine->RenderBuffer();
    EXPECT_EQ(counter.Count(), 0);
  }
  EXPECT_EQ(pengine->BuffersRendered(), nBefore + 10);
  EXPECT_EQ(pdevice->nWritten, pengine->nBuffers + 10);
  EXPECT_EQ(pengine->AutoReductions(), 1);
  delete table.aslot[1].ppatch;
  table.aslot.Empty();
  DestroyChannelModules();
}

}  // namespace
