// The device layer's null output: buffers played in queue order at the clock's pace, one
// buffer-done notification each, and the descriptor rules every device keeps.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "engine/audiodevice.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Buffers {
  explicit Buffers(int n, uint32_t nBytes) : abuf(static_cast<size_t>(n)), aach(static_cast<size_t>(n)) {
    for (int i = 0; i < n; ++i) {
      aach[static_cast<size_t>(i)].resize(nBytes);
      abuf[static_cast<size_t>(i)].pData = aach[static_cast<size_t>(i)].data();
      abuf[static_cast<size_t>(i)].nBufferLength = nBytes;
    }
  }
  std::vector<WaveBuffer> abuf;
  std::vector<std::vector<char>> aach;
};

// 8 kHz mono, 400-frame buffers: 50 ms each.
const WaveFormat kFormat = {1, 8000, 16, 2, 16000, 18};
constexpr double kBufferSeconds = 0.05;

TEST(NullOutputTest, PacesBufferDoneNotificationsInQueueOrder) {
  auto pqueue = std::make_unique<AudioMessageQueue>();
  std::unique_ptr<AudioOutput> pout = MakeNullOutput();
  int iInstance = 0;
  ASSERT_EQ(pout->Open(kFormat, pqueue.get(), &iInstance), WaveOk);
  Buffers bufs(3, 800);
  Clock::time_point tStart = Clock::now();
  for (WaveBuffer& buf : bufs.abuf) {
    ASSERT_EQ(pout->Prepare(&buf), WaveOk);
    ASSERT_EQ(pout->Write(&buf), WaveOk);
  }
  // Twelve buffers played: each notification names the next buffer in rotation, and none comes
  // before its buffer's time is up (later is allowed: the machine may be busy).
  for (int k = 0; k < 12; ++k) {
    AudioMessage msg = pqueue->Take();
    double dElapsed = std::chrono::duration<double>(Clock::now() - tStart).count();
    ASSERT_EQ(msg.uType, AudioMsgBufferDone);
    ASSERT_EQ(msg.p1, reinterpret_cast<uintptr_t>(&iInstance));
    WaveBuffer* pbuf = reinterpret_cast<WaveBuffer*>(msg.p2);
    ASSERT_EQ(pbuf, &bufs.abuf[static_cast<size_t>(k % 3)]);
    EXPECT_GE(dElapsed, (k + 1) * kBufferSeconds - 0.002) << "buffer " << k;
    EXPECT_TRUE(pbuf->uFlags.load() & WaveBufDone);
    EXPECT_FALSE(pbuf->uFlags.load() & WaveBufInQueue);
    ASSERT_EQ(pout->Write(pbuf), WaveOk);
  }
  EXPECT_EQ(pout->Reset(), WaveOk);
  for (WaveBuffer& buf : bufs.abuf) EXPECT_TRUE(buf.uFlags.load() & WaveBufDone) << "reset returns every buffer";
  EXPECT_EQ(pout->Close(), WaveOk);
  EXPECT_FALSE(pout->Lost());
}

struct RuleCase {
  const char* pszName;
  int iExpected;
  int (*pfn)(AudioOutput&, WaveBuffer&);
};

const RuleCase kRules[] = {
    {"write_unprepared", WaveErrUnprepared, [](AudioOutput& out, WaveBuffer& buf) { return out.Write(&buf); }},
    {"write_twice", WaveErrStillPlaying,
     [](AudioOutput& out, WaveBuffer& buf) {
       out.Prepare(&buf);
       out.Write(&buf);
       return out.Write(&buf);
     }},
    {"unprepare_queued", WaveErrStillPlaying,
     [](AudioOutput& out, WaveBuffer& buf) {
       out.Prepare(&buf);
       out.Write(&buf);
       return out.Unprepare(&buf);
     }},
    {"close_while_queued", WaveErrStillPlaying,
     [](AudioOutput& out, WaveBuffer& buf) {
       out.Prepare(&buf);
       out.Write(&buf);
       return out.Close();
     }},
    {"prepare_twice", WaveOk,
     [](AudioOutput& out, WaveBuffer& buf) {
       out.Prepare(&buf);
       return out.Prepare(&buf);
     }},
};

class NullOutputRuleTest : public testing::TestWithParam<RuleCase> {};

TEST_P(NullOutputRuleTest, Answers) {
  auto pqueue = std::make_unique<AudioMessageQueue>();
  std::unique_ptr<AudioOutput> pout = MakeNullOutput();
  // A long buffer, so that nothing finishes playing while the rule is tried.
  Buffers bufs(1, 2 * 8000 * 10);
  ASSERT_EQ(pout->Open(kFormat, pqueue.get(), nullptr), WaveOk);
  EXPECT_EQ(GetParam().pfn(*pout, bufs.abuf[0]), GetParam().iExpected);
  pout->Reset();
  EXPECT_EQ(pout->Close(), WaveOk);
}

INSTANTIATE_TEST_SUITE_P(Rules, NullOutputRuleTest, testing::ValuesIn(kRules),
                         [](const testing::TestParamInfo<RuleCase>& info) { return std::string(info.param.pszName); });

TEST(NullOutputTest, CallsBeforeOpeningFail) {
  std::unique_ptr<AudioOutput> pout = MakeNullOutput();
  Buffers bufs(1, 64);
  EXPECT_EQ(pout->Prepare(&bufs.abuf[0]), WaveErrBadDevice);
  EXPECT_EQ(pout->Write(&bufs.abuf[0]), WaveErrBadDevice);
  EXPECT_EQ(pout->Reset(), WaveErrBadDevice);
  EXPECT_EQ(pout->Close(), WaveErrBadDevice);
  auto pqueue = std::make_unique<AudioMessageQueue>();
  WaveFormat bad = kFormat;
  bad.nBitsPerSample = 24;
  EXPECT_EQ(pout->Open(bad, pqueue.get(), nullptr), WaveErrBadFormat);
}

struct ApiCase {
  const char* psz;
  bool bValid;
  AudioApi api;
};

class AudioApiNameTest : public testing::TestWithParam<ApiCase> {};

TEST_P(AudioApiNameTest, Parses) {
  AudioApi api = AudioApi::Default;
  EXPECT_EQ(ParseAudioApi(GetParam().psz, &api), GetParam().bValid);
  if (GetParam().bValid) {
    EXPECT_EQ(api, GetParam().api);
    EXPECT_STREQ(AudioApiName(api), GetParam().psz);
  }
}

INSTANTIATE_TEST_SUITE_P(Names, AudioApiNameTest,
                         testing::Values(ApiCase{"jack", true, AudioApi::Jack}, ApiCase{"pulse", true, AudioApi::Pulse},
                                         ApiCase{"alsa", true, AudioApi::Alsa}, ApiCase{"null", true, AudioApi::Null},
                                         ApiCase{"default", true, AudioApi::Default}, ApiCase{"JACK", false, {}},
                                         ApiCase{"", false, {}}, ApiCase{"oss", false, {}}));

}  // namespace

namespace {

// Whether the buffers keep a device fed, and the smallest values that do, for the settings a
// player meets: the four of the device-feeding table and their neighbours.
struct FeedRow {
  int nPeriod, nBuffers, nBufferSamples;
  bool bFeeds;
  int nMinSamples, nMinBuffers;
};

const FeedRow kFeedRows[] = {
    {2048, 3, 768, false, 1024, 4},
    {256, 2, 64, false, 128, 4},
    {256, 3, 100, false, 128, 4},
    {256, 3, 768, true, 128, 1},
    {2048, 4, 768, true, 512, 4},
    {128, 2, 128, true, 64, 1},
    {128, 2, 64, true, 64, 2},
    {256, 1, 256, true, 256, 1},   // one buffer of exactly a period is refilled in between
    {256, 1, 384, false, 256, 2},  // but a buffer and a half leaves half a period
    {256, 2, 127, false, 128, 4},
};

class FeedTest : public testing::TestWithParam<FeedRow> {};

TEST_P(FeedTest, Rule) {
  const FeedRow& r = GetParam();
  EXPECT_EQ(BuffersFeedPeriod(r.nBuffers, r.nBufferSamples, r.nPeriod), r.bFeeds);
  EXPECT_EQ(MinBufferSamples(r.nBuffers, r.nPeriod), r.nMinSamples);
  EXPECT_EQ(MinBuffers(r.nBufferSamples, r.nPeriod), r.nMinBuffers);
  EXPECT_TRUE(BuffersFeedPeriod(r.nBuffers, MinBufferSamples(r.nBuffers, r.nPeriod), r.nPeriod));
  EXPECT_TRUE(BuffersFeedPeriod(MinBuffers(r.nBufferSamples, r.nPeriod), r.nBufferSamples, r.nPeriod));
}

INSTANTIATE_TEST_SUITE_P(Rows, FeedTest, testing::ValuesIn(kFeedRows),
                         [](const testing::TestParamInfo<FeedRow>& info) {
                           return std::to_string(info.param.nPeriod) + "_" + std::to_string(info.param.nBuffers) +
                                  "x" + std::to_string(info.param.nBufferSamples);
                         });

// The feeding rule played out: a simulated device takes a period at a time from buffers that a
// prompt engine refills between periods; it meets a gap exactly when the rule says it does.
TEST(FeedSimulationTest, RuleMatchesWhatADeviceMeets) {
  for (int nPeriod : {64, 100, 128, 256}) {
    for (int nBuffers = 1; nBuffers <= 4; ++nBuffers) {
      for (int nSamples = 16; nSamples <= 300; nSamples += 7) {
        long nQueued = int64_t{nBuffers} * nSamples, nOffset = 0;  // frames ready; played of the current buffer
        bool bGap = false;
        for (int k = 0; k < 4 * nSamples && !bGap; ++k) {
          bGap = nQueued < nPeriod;
          nOffset += nPeriod;
          nQueued -= nPeriod;
          // Every buffer used up comes back and is refilled before the next period.
          nQueued += (nOffset / nSamples) * nSamples;
          nOffset %= nSamples;
        }
        EXPECT_EQ(!bGap, BuffersFeedPeriod(nBuffers, nSamples, nPeriod))
            << nBuffers << " x " << nSamples << " on " << nPeriod;
      }
    }
  }
}

}  // namespace
