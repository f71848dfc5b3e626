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

#include "app/appcore.h"
#include "app/offline.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/notes.h"
#include "engine/midi.h"
#include "engine/midifile.h"
#include "engine/wavwriter.h"
#include "formula/errorlist.h"
#include "foundation/akstatus.h"
#include "patch/patch.h"

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

// The render's output: the WAV file, with the progress bar and the watch for Ctrl-C.
class WavSink : public OfflineSink {
 public:
  WavSink(WavWriter& wav, ::Progress& progress) : wav_(wav), progress_(progress) {}
  bool Write(const int16_t* as, int nFrames) override { return wav_.Write(as, nFrames); }
  bool Write(const float* af, int nFrames) override { return wav_.Write(af, nFrames); }
  bool Progress(long long nDone) override {
    progress_.Update(nDone);
    return g_iSignal != 0;
  }

 private:
  WavWriter& wav_;
  ::Progress& progress_;
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

  double dRate = pengine->dFreqEval;
  // Times beyond the longest render are never reached; limiting them keeps the frame numbers
  // finite whatever a note or a MIDI file asks for.
  auto frameOf = [&](double dSeconds) {
    return static_cast<long long>(std::floor(std::min(dSeconds, 2 * kMaxSeconds) * dRate + 1e-9));
  };
  OfflineJob job;
  if (anote.empty() && opt.sMidi.empty()) anote.push_back({60, 0.5, 0, -1});
  for (const NoteEvent& e : NoteEvents(anote))
    job.amsg.push_back({frameOf(e.dTime), static_cast<uint32_t>(e.iKey), e.dVelocity, true});
  for (const MidiFileEvent& e : midi.aevent) job.amsg.push_back({frameOf(e.dSeconds), e.uMessage, 0, false});
  std::stable_sort(job.amsg.begin(), job.amsg.end(),
                   [](const OfflineMessage& a, const OfflineMessage& b) { return a.iFrame < b.iFrame; });

  bool bUntilSilent = !opt.sMidi.empty() && !opt.bSeconds;
  if (bUntilSilent && midi.dLength > kMaxSeconds)
    fprintf(stderr, "vantrel: %s lasts %.0f s; only its first %.0f s are rendered (the most one render makes)\n",
            opt.sMidi.c_str(), midi.dLength, kMaxSeconds);
  double dSeconds = opt.bSeconds ? opt.dSeconds : bUntilSilent ? std::min(midi.dLength, kMaxSeconds) : 2;
  job.nFrames = frameOf(dSeconds);
  job.nMaxFrames = bUntilSilent ? frameOf(std::min(midi.dLength + kMaxTailSeconds, kMaxSeconds)) : job.nFrames;
  job.bFloat = opt.bFloat;

  WavWriter wav;
  CatchStopSignals();
  if (!wav.Open(opt.sOut, pengine->nChannels, static_cast<int>(dRate), opt.bFloat))
    return Usage("cannot write " + opt.sOut + ": " + wav.sError);
  g_pszUnfinished = wav.TempPath();
  Progress progress(job.nMaxFrames);
  WavSink sink(wav, progress);
  OfflineStats stats;
  if (RenderOffline(core, job, sink, &stats) != 0) {
    progress.Finish();
    return Usage("cannot write " + opt.sOut + ": " + wav.sError);
  }
  long long iFrame = stats.nFrames;
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
  // A runaway patch's peak is written in powers of ten, not as hundreds of digits.
  char szPeak[32];
  snprintf(szPeak, sizeof szPeak, stats.dRawPeak < 1e6 ? "%.3f" : "%.3g", stats.dRawPeak);
  fprintf(stderr, "rendered %.2f s to %s: peak %s (%.1f dBFS), %d auto-reduction%s, %zu voice%s, %.1fx real time",
          dLength, opt.sOut.c_str(), szPeak, 20 * std::log10(std::max(stats.dRawPeak, 1e-10)),
          stats.nAutoReductions, stats.nAutoReductions == 1 ? "" : "s", stats.nVoicesMax, stats.nVoicesMax == 1 ? "" : "s",
          dElapsed > 0 ? dLength / dElapsed : 0.0);
  if (stats.nNonFinite) fprintf(stderr, ", %ld samples that were not numbers silenced", stats.nNonFinite);
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
