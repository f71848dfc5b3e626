// vantrel render: a patch played offline into a WAV file, frame by frame as the engine renders it.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "akstatus.h"
#include "appcore.h"
#include "cli_common.h"
#include "commands.h"
#include "errorlist.h"
#include "midi.h"
#include "midifile.h"
#include "notes.h"
#include "patch.h"
#include "wavwriter.h"

namespace {

constexpr double kMaxSeconds = 3600;     // an hour of audio is the most one render makes
constexpr double kMaxTailSeconds = 30;   // after a MIDI file ends, voices get this long to finish
constexpr OptionRange kSecondsRange = {0, kMaxSeconds, false, ""};
constexpr OptionRange kRateRange = {1000, 768000, true, " Hz"};  // the rates sound cards and files use

struct RenderOptions {
  std::string sPatch, sOut, sMidi;
  double dSeconds = 0;
  bool bSeconds = false;  // --seconds was given
  std::vector<std::string> asNotes;
  bool bFloat = false;
  double dRate = 0;
  bool bRate = false;  // --rate was given
};

// Ctrl-C, SIGTERM or a closed terminal stops the render between two buffers, and the unfinished
// file is removed. Should a second signal come before that (the render stuck in a write), the
// handler removes the file itself and ends the program.
volatile sig_atomic_t g_iSignal = 0;
const char* volatile g_pszUnfinished = nullptr;

void OnSignal(int iSignal) {
  if (g_iSignal) {
    if (const char* psz = g_pszUnfinished) unlink(psz);
    signal(iSignal, SIG_DFL);
    raise(iSignal);
    return;
  }
  g_iSignal = iSignal;
}

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void CatchStopSignals() {
  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: a write that blocks (into a FIFO) returns instead
  for (int iSignal : kStopSignals) sigaction(iSignal, &sa, nullptr);
}

// Ends the program by the signal that stopped it, as the caller (a shell, a script) expects.
[[noreturn]] void DieOfSignal(int iSignal) {
  signal(iSignal, SIG_DFL);
  raise(iSignal);
  _exit(128 + iSignal);
}

struct TimedMessage {
  long long iFrame;
  uint32_t uMessage;  // a packed short message, or a direct note
  double dVelocity;   // for notes given on the command line: the exact velocity
  bool bDirect;       // true: a command-line note on (velocity > 0) or off, applied to the patch itself
};

// The render acts as the engine: MIDI from a file is decoded against channel 1's patch.
class RenderTarget : public MidiTarget {
 public:
  RenderTarget(AppCore& core, OutputStage& stage) : core_(core), stage_(stage) {}
  AKArray<PatchSlot>& Slots() override { return core_.Slots(); }
  InterpreterSettings* Engine() override { return core_.Engine(); }
  void AllNotesOff() override {
    for (PatchSlot& slot : core_.Slots())
      if (slot.ppatch) slot.ppatch->AllNotesOff();
  }
  void AllSoundOff() override {
    for (PatchSlot& slot : core_.Slots())
      if (slot.ppatch) slot.ppatch->AllSoundOff();
    stage_.ResetAutoReduce();
  }

 private:
  AppCore& core_;
  OutputStage& stage_;
};

class Progress {
 public:
  explicit Progress(long long nTotal) : nTotal_(nTotal), bTerminal_(isatty(2)) {}
  void Update(long long nDone) {
    if (!bTerminal_ || nDone == nTotal_) return;
    double dElapsed = Elapsed();
    if (dElapsed < 1 || dElapsed - dLastDraw_ < 0.1) return;
    dLastDraw_ = dElapsed;
    int nWidth = 40, nFilled = static_cast<int>(nWidth * nDone / std::max(1LL, nTotal_));
    fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(nFilled), '#').c_str(),
            std::string(static_cast<size_t>(nWidth - nFilled), ' ').c_str(),
            static_cast<int>(100 * nDone / std::max(1LL, nTotal_)));
    bDrawn_ = true;
  }
  void Finish() {
    if (bDrawn_) fprintf(stderr, "\r%s\r", std::string(50, ' ').c_str());
  }
  double Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart_).count();
  }

 private:
  long long nTotal_;
  bool bTerminal_;
  bool bDrawn_ = false;
  double dLastDraw_ = 0;
  std::chrono::steady_clock::time_point tStart_ = std::chrono::steady_clock::now();
};

int Usage(const std::string& s) {
  fprintf(stderr, "vantrel: %s\n", s.c_str());
  return ExitUsage;
}

int RunRender(const RenderOptions& opt) {
  // Check everything the user gave before any work.
  std::vector<NoteSpec> anote;
  std::string sNoteError;
  if (!ParseNotes(opt.asNotes, &anote, &sNoteError)) return Usage(sNoteError);
  if (opt.bSeconds && !CheckOptionRange("--seconds", opt.dSeconds, kSecondsRange)) return ExitUsage;
  if (opt.bRate && !CheckOptionRange("--rate", opt.dRate, kRateRange)) return ExitUsage;
  if (!CheckReadable(opt.sPatch)) return ExitUsage;
  MidiFile midi;
  if (!opt.sMidi.empty()) {
    if (!CheckReadable(opt.sMidi)) return ExitUsage;
    std::string sError;
    if (!ReadMidiFile(opt.sMidi, &midi, &sError)) return Usage("cannot read MIDI file " + opt.sMidi + ": " + sError);
  }
  std::vector<std::string> asSettings;
  if (opt.bRate) asSettings.push_back("FreqEval = " + std::to_string(opt.dRate));
  std::unique_ptr<AppCore> pcore = MakeAppCore(asSettings);
  if (!pcore) return ExitUsage;
  AppCore& core = *pcore;
  InterpreterSettings* pengine = core.Engine();
  // Diagnostics of the patch go to standard error, user messages too.
  core.pfnUserMessage = [](const char* psz) { fprintf(stderr, "vantrel: %s\n", psz); };
  if (core.LoadPatch(opt.sPatch.c_str(), 0, false, 0, nullptr) != 0) {
    ErrorList* pel = ErrorList::Get();
    for (const ErrorListNode& node : pel->anode) PrintDiagnostic(opt.sPatch.c_str(), node);
    return ExitRefused;
  }
  for (const ErrorListNode& node : ErrorList::Get()->anode)
    PrintDiagnostic(opt.sPatch.c_str(), node);
  ErrorList::Get()->Clear();
  Patch* ppatch = core.Slots()[0].ppatch;

  double dRate = pengine->dFreqEval;
  // Times beyond the longest render are never reached; limiting them keeps the frame numbers
  // finite whatever a note or a MIDI file asks for.
  auto frameOf = [&](double dSeconds) {
    return static_cast<long long>(std::floor(std::min(dSeconds, 2 * kMaxSeconds) * dRate + 1e-9));
  };
  std::vector<TimedMessage> amsg;
  if (anote.empty() && opt.sMidi.empty()) anote.push_back({60, 0.5, 0, -1});
  for (const NoteEvent& e : NoteEvents(anote))
    amsg.push_back({frameOf(e.dTime), static_cast<uint32_t>(e.iKey), e.dVelocity, true});
  for (const MidiFileEvent& e : midi.aevent) amsg.push_back({frameOf(e.dSeconds), e.uMessage, 0, false});
  std::stable_sort(amsg.begin(), amsg.end(), [](const TimedMessage& a, const TimedMessage& b) { return a.iFrame < b.iFrame; });

  bool bUntilSilent = !opt.sMidi.empty() && !opt.bSeconds;
  if (bUntilSilent && midi.dLength > kMaxSeconds)
    fprintf(stderr, "vantrel: %s lasts %.0f s; only its first %.0f s are rendered (the most one render makes)\n",
            opt.sMidi.c_str(), midi.dLength, kMaxSeconds);
  double dSeconds = opt.bSeconds ? opt.dSeconds : bUntilSilent ? std::min(midi.dLength, kMaxSeconds) : 2;
  long long nFrames = frameOf(dSeconds);
  long long nMaxFrames = bUntilSilent ? frameOf(std::min(midi.dLength + kMaxTailSeconds, kMaxSeconds)) : nFrames;

  int nChannels = pengine->nChannels;
  int nBuffer = pengine->nBufferSamples;
  WavWriter wav;
  CatchStopSignals();
  if (!wav.Open(opt.sOut, nChannels, static_cast<int>(dRate), opt.bFloat))
    return Usage("cannot write " + opt.sOut + ": " + wav.sError);
  g_pszUnfinished = wav.TempPath();
  OutputStage stage;
  stage.dFullScale = pengine->dFullScale;
  RenderTarget target(core, stage);
  std::vector<double> adMix(static_cast<size_t>(nBuffer) * nChannels);
  std::vector<int16_t> asOut(adMix.size());
  std::vector<float> afOut(adMix.size());
  size_t iMsg = 0;
  long long iFrame = 0;
  size_t nVoicesMax = 0;
  double dRawPeak = 0;
  Progress progress(nMaxFrames);
  while (!g_iSignal && iFrame < nMaxFrames && (iFrame < nFrames || !ppatch->apvoiceActive.empty() || iMsg < amsg.size())) {
    int nThis = static_cast<int>(std::min<long long>(nBuffer, nMaxFrames - iFrame));
    std::fill(adMix.begin(), adMix.end(), 0.0);
    std::lock_guard<std::mutex> lock(core.EngineLock());
    for (int j = 0; j < nThis; ++j, ++iFrame) {
      for (; iMsg < amsg.size() && amsg[iMsg].iFrame <= iFrame; ++iMsg) {
        const TimedMessage& m = amsg[iMsg];
        if (!m.bDirect) HandleMidiMessage(target, m.uMessage);
        else if (m.dVelocity > 0) HandleNote(target, 0, static_cast<int>(m.uMessage), m.dVelocity, true);
        else HandleNote(target, 0, static_cast<int>(m.uMessage), 0.5, false);
      }
      MixFrames(core.Slots(), adMix.data() + static_cast<size_t>(j) * nChannels, 1, nChannels);
      nVoicesMax = std::max(nVoicesMax, ppatch->apvoiceActive.size());
    }
    int nValues = nThis * nChannels;
    bool bWritten;
    if (opt.bFloat) {
      for (int i = 0; i < nValues; ++i) {
        double d = adMix[static_cast<size_t>(i)];
        if (!std::isfinite(d)) d = 0, ++stage.nNonFinite;
        dRawPeak = std::max(dRawPeak, std::fabs(d));
        afOut[static_cast<size_t>(i)] = static_cast<float>(d);
      }
      bWritten = wav.Write(afOut.data(), nThis);
    } else {
      stage.Convert(adMix.data(), nValues, asOut.data());
      for (int i = 0; i < nValues; ++i) dRawPeak = std::max(dRawPeak, std::fabs(adMix[static_cast<size_t>(i)]));
      bWritten = wav.Write(asOut.data(), nThis);
    }
    if (!bWritten) {
      progress.Finish();
      return Usage("cannot write " + opt.sOut + ": " + wav.sError);
    }
    progress.Update(iFrame);
  }
  progress.Finish();
  bool bClosed = !g_iSignal && wav.Close();
  g_pszUnfinished = nullptr;
  if (!bClosed) {
    wav.Abandon();
    if (!g_iSignal) return Usage("cannot write " + opt.sOut + ": " + wav.sError);
    fprintf(stderr, "vantrel: interrupted after %.2f s of audio; %s was not written\n", static_cast<double>(iFrame) / dRate,
            opt.sOut.c_str());
    DieOfSignal(g_iSignal);
  }
  for (const ErrorListNode& node : ErrorList::Get()->anode)
    PrintDiagnostic(opt.sPatch.c_str(), node);
  double dLength = static_cast<double>(iFrame) / dRate;
  double dElapsed = progress.Elapsed();
  fprintf(stderr, "rendered %.2f s to %s: peak %.3f (%.1f dBFS), %d auto-reduction%s, %zu voice%s, %.1fx real time",
          dLength, opt.sOut.c_str(), dRawPeak, 20 * std::log10(std::max(dRawPeak, 1e-10)), stage.nAutoReductions,
          stage.nAutoReductions == 1 ? "" : "s", nVoicesMax, nVoicesMax == 1 ? "" : "s",
          dElapsed > 0 ? dLength / dElapsed : 0.0);
  if (stage.nNonFinite) fprintf(stderr, ", %ld samples that were not numbers silenced", stage.nNonFinite);
  fprintf(stderr, "\n");
  return ExitOk;
}

}  // namespace

Command AddRenderCommand(CLI::App& app) {
  auto opt = std::make_shared<RenderOptions>();
  CLI::App* papp = app.add_subcommand("render", "Render a patch offline into a WAV file");
  papp->add_option("PATCH", opt->sPatch, "The patch file")->required();
  papp->add_option("-o,--output", opt->sOut, "The WAV file to write")->required()->type_name("OUT.wav");
  CLI::Option* poptSeconds =
      papp->add_option("--seconds", opt->dSeconds,
                       "Length in seconds, at most 3600 (default 2; with --midi the file's length plus the voices' tails)")
          ->type_name("S");
  papp->add_option("--note", opt->asNotes, "A note: MIDI key, velocity 0..1 (0.5), start s (0), length s (held); repeatable")
      ->type_name("KEY[:VEL[:START[:LEN]]]");
  papp->add_option("--midi", opt->sMidi, "A Standard MIDI File to play (format 0 or 1)")->type_name("FILE.mid");
  papp->add_flag("--float", opt->bFloat, "Write the raw frames as 32-bit floats instead of 16-bit PCM");
  CLI::Option* poptRate =
      papp->add_option("--rate", opt->dRate, "Sample rate in Hz, 1000 to 768000 (default: the installation's FreqEval)")
          ->type_name("HZ");
  papp->footer(
      "Without --note and --midi, note 60 is held at velocity 0.5. The 16-bit output is made as the engine makes\n"
      "its buffers: loud output is scaled down (auto-reduction), never clipped. A summary goes to standard error.\n"
      "Notes go to the patch as MIDI notes do: a note on a key that is already down is a second note on (the\n"
      "patch's Retrigger decides), and at one instant note offs come first. An interrupted render writes no file.");
  return {papp, [opt, poptSeconds, poptRate] {
            opt->bSeconds = poptSeconds->count() > 0;
            opt->bRate = poptRate->count() > 0;
            return RunRender(*opt);
          }};
}
