// vantrel play: the live engine without windows: a patch on the sound device, played from a MIDI
// input, with a once-a-second status line and an optional recording of what the device got.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "akstatus.h"
#include "appcore.h"
#include "audiodevice.h"
#include "cli_common.h"
#include "commands.h"
#include "errorlist.h"
#include "interpreter.h"
#include "midi.h"
#include "midiinput.h"
#include "midichoice.h"
#include "midiinputdevice.h"
#include "notes.h"
#include "patch.h"
#include "sampletap.h"
#include "wavwriter.h"

namespace {

constexpr double kMaxSeconds = 7 * 24 * 3600.0;  // a week: beyond that a typo is likelier than intent
constexpr double kTapSeconds = 4;                // the recorder may fall this far behind before samples are lost

struct PlayOptions {
  std::string sPatch, sAudio = "default", sMidiIn, sRecord;
  std::vector<std::string> asNotes;
  double dSeconds = 0;  // 0: until interrupted
  bool bList = false;
};

volatile sig_atomic_t g_bInterrupted = 0;

void OnSignal(int) {
  g_bInterrupted = 1;
  // A second Ctrl-C ends the program at once, should the orderly shutdown ever hang.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
}

// A command-line note's MIDI message, sent as a keyboard would send it on channel 1.
struct TimedMidi {
  double dTime;
  uint32_t uPacked;
};

std::vector<TimedMidi> NoteMessages(const std::vector<NoteSpec>& anote) {
  std::vector<TimedMidi> amsg;
  for (const NoteSpec& note : anote) {
    uint32_t uVelocity = static_cast<uint32_t>(std::clamp(std::lround(note.dVelocity * 127), 1L, 127L));
    uint32_t uKey = static_cast<uint32_t>(note.iKey) << 8;
    amsg.push_back({note.dStart, 0x90 | uKey | uVelocity << 16});
    if (note.dLength > 0) amsg.push_back({note.dStart + note.dLength, 0x80 | uKey | 64u << 16});
  }
  std::stable_sort(amsg.begin(), amsg.end(), [](const TimedMidi& a, const TimedMidi& b) { return a.dTime < b.dTime; });
  return amsg;
}

int Usage(const std::string& s) {
  fprintf(stderr, "vantrel: %s\n", s.c_str());
  return ExitUsage;
}

// Standard error as the command's window: one updating status line on a terminal, plain lines
// otherwise; messages are printed above the status line.
class Console : public MidiInputView {
 public:
  Console() : bTerminal_(isatty(2)) {}

  void Message(const std::string& s) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bTerminal_ && bStatusShown_) fprintf(stderr, "\r\033[K");
    fprintf(stderr, "%s\n", s.c_str());
    if (bTerminal_ && bStatusShown_) fprintf(stderr, "%s", sStatus_.c_str());
    fflush(stderr);
  }
  void Status(const std::string& s) {
    std::lock_guard<std::mutex> lock(mutex_);
    sStatus_ = s;
    if (bTerminal_) {
      fprintf(stderr, "\r\033[K%s", s.c_str());
      bStatusShown_ = true;
    } else {
      fprintf(stderr, "%s\n", s.c_str());
    }
    fflush(stderr);
  }
  void EndStatus() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bTerminal_ && bStatusShown_) fprintf(stderr, "\n");
    bStatusShown_ = false;
  }

  // MidiInputView.
  void ShowMidiMsg(const char* psz) override {
    if (*psz) Message(std::string("MIDI: ") + psz);
  }
  void ShowMidiStatus(const char* psz) override {
    sMidiStatus = psz;
    if (*psz) Message(std::string("MIDI: ") + psz);
  }
  void ShowLight(int iState) override { iLight = iState; }
  void ErrorBox(const char* pszTitle, const char* pszText) override {
    Message(std::string("vantrel: ") + pszTitle + ": " + pszText);
  }

  std::string sMidiStatus;
  int iLight = -1;

 private:
  bool bTerminal_;
  bool bStatusShown_ = false;
  std::string sStatus_;
  std::mutex mutex_;
};

// Drains the engine's tap into the WAV file on its own thread, so the audio thread never waits
// for the disk.
class Recorder {
 public:
  Recorder(SampleTap& tap, WavWriter& wav, int nChannels) : tap_(tap), wav_(wav), nChannels_(nChannels) {}
  void Start() {
    thread_ = std::thread([this] { Loop(); });
  }
  // Writes what is left and stops; false with the reason in sError.
  bool Stop() {
    bStop_ = true;
    if (thread_.joinable()) thread_.join();
    return bOk_;
  }
  std::string sError;
  long long nFrames = 0;

 private:
  void Loop() {
    std::vector<int16_t> as(static_cast<size_t>(8192 * nChannels_));
    for (;;) {
      bool bLast = bStop_.load();
      size_t n;
      while ((n = tap_.Pop(as.data(), as.size())) > 0) {
        long nFramesNow = static_cast<long>(n) / nChannels_;
        if (bOk_ && !wav_.Write(as.data(), nFramesNow)) {
          bOk_ = false;
          sError = wav_.sError;
        }
        nFrames += nFramesNow;
      }
      if (bLast) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  SampleTap& tap_;
  WavWriter& wav_;
  int nChannels_;
  std::thread thread_;
  std::atomic<bool> bStop_{false};
  bool bOk_ = true;
};

int ListDevices(MidiSystem midiSystem) {
  printf("Audio outputs:\n");
  for (const std::string& s : ListAudioDevices()) printf("  %s\n", s.c_str());
  printf("MIDI inputs:\n");
  std::string sError;
  std::unique_ptr<MidiInPort> pport = MakeMidiInPort(midiSystem, &sError);
  if (!pport) {
    printf("  (no MIDI system: %s)\n", sError.c_str());
    return ExitOk;
  }
  int n = pport->NumDevs();
  if (n == 0) printf("  (no ports; --midi-in virtual makes one other programs connect to)\n");
  for (int i = 0; i < n; ++i) {
    std::string sName;
    if (pport->GetDevName(i, &sName) == 0) printf("  %d %s\n", i, sName.c_str());
  }
  return ExitOk;
}

// Prints the error list's entries as they appear or grow: the engine's reports of MIDI it does
// not support, of keeping up, of saved dumps.
class ReportWatcher {
 public:
  explicit ReportWatcher(Console& console) : console_(console) {}
  void Poll() {
    ErrorList* pel = ErrorList::Get();
    std::vector<std::string> asNew;
    pel->Lock();
    for (const ErrorListNode& node : pel->anode) {
      int& nSeen = anSeen_[node.psz];
      if (nSeen == 0) asNew.push_back(node.psz);
      nSeen = node.iCount;
    }
    pel->Unlock();
    for (const std::string& s : asNew) console_.Message("vantrel: " + s);
  }
  // The reports that came more than once, with their final counts.
  void Summary() {
    Poll();
    for (const auto& [s, n] : anSeen_)
      if (n > 1) console_.Message("vantrel: " + s + " [x" + std::to_string(n) + "]");
  }

 private:
  Console& console_;
  std::map<std::string, int> anSeen_;
};

std::string StatusLine(AppCore& core, Interpreter& engine) {
  int nVoices = core.SoundingVoices();
  double dLevel = engine.Level();
  char szLevel[32];
  if (dLevel > 0) snprintf(szLevel, sizeof szLevel, "%6.1f dB", 20 * std::log10(dLevel));
  else snprintf(szLevel, sizeof szLevel, "  -inf dB");
  char szMidi[80] = "none";
  if (uint32_t u = engine.LastMidiMessage()) DescribeMidiMessage(u, szMidi, sizeof szMidi);
  char sz[256];
  snprintf(sz, sizeof sz, "level %s  peak %.2f  auto-reductions %d  voices %d  last MIDI: %s", szLevel, engine.Peak(),
           engine.AutoReductions(), nVoices, szMidi);
  std::string s = sz;
  if (AudioOutput* pdevice = engine.Device())
    if (long n = pdevice->Underruns()) s += "  late periods " + std::to_string(n);
  return s;
}

int RunPlay(const PlayOptions& opt) {
  AudioApi api;
  if (!ParseAudioApi(opt.sAudio, &api)) return Usage("--audio must be jack, pulse, alsa, null or default");
  // MIDI follows the sound system: JACK audio with JACK MIDI, ALSA with the ALSA sequencer.
  MidiSystem midiSystem = api == AudioApi::Jack ? MidiSystem::Jack : api == AudioApi::Alsa ? MidiSystem::Alsa : MidiSystem::Default;
  if (opt.bList) return ListDevices(midiSystem);
  if (opt.sPatch.empty()) return Usage("play needs a PATCH (or --list-devices)");
  if (opt.dSeconds != 0 && (!(opt.dSeconds > 0) || opt.dSeconds > kMaxSeconds))
    return Usage("--seconds must be above 0 and at most 604800");
  std::vector<NoteSpec> anote;
  std::string sNoteError;
  if (!ParseNotes(opt.asNotes, &anote, &sNoteError)) return Usage(sNoteError);
  std::vector<TimedMidi> anoteMsg = NoteMessages(anote);
  if (!CheckReadable(opt.sPatch)) return ExitUsage;

  std::unique_ptr<AppCore> pcore = MakeAppCore();
  if (!pcore) return ExitUsage;
  AppCore& core = *pcore;
  Interpreter& engine = *core.Engine();
  Console console;
  core.pfnUserMessage = [](const char* psz) { fprintf(stderr, "vantrel: %s\n", psz); };
  int iLoad = core.LoadPatch(opt.sPatch.c_str(), 0, false, -1, nullptr);
  for (const ErrorListNode& node : ErrorList::Get()->anode)
    PrintDiagnostic(opt.sPatch.c_str(), node);
  if (iLoad != 0) return ExitRefused;
  ErrorList::Get()->Clear();
  // From here on the device layer's warnings (a device that does not open or goes away) are
  // the user's business too.
  AKSSetActions(AKSWarn, AKSGetActions(AKSWarn) | AKSActDebug);

  // The recording: what the engine hands the device, 16-bit, at the device's rate.
  WavWriter wav;
  std::unique_ptr<SampleTap> ptap;
  std::unique_ptr<Recorder> precorder;
  if (!opt.sRecord.empty()) {
    if (!wav.Open(opt.sRecord, engine.nChannels, static_cast<int>(engine.dFreqEval), false))
      return Usage("cannot write " + opt.sRecord + ": " + wav.sError);
    ptap = std::make_unique<SampleTap>(static_cast<size_t>(kTapSeconds * engine.dFreqEval * engine.nChannels));
    engine.SetTap(ptap.get());
    precorder = std::make_unique<Recorder>(*ptap, wav, engine.nChannels);
    precorder->Start();
  }

  engine.SetOutput(MakeAudioOutput(api));
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  using Clock = std::chrono::steady_clock;
  Clock::time_point tStart = Clock::now();
  core.StartEngine();

  // The MIDI input opens once the engine runs, so its first note already sounds.
  std::string sMidiError;
  std::unique_ptr<MidiInPort> pport;
  std::unique_ptr<MidiInputDevice> pmidi;
  int iExit = ExitOk;
  if (!opt.sMidiIn.empty()) {
    pport = MakeMidiInPort(midiSystem, &sMidiError);
    if (!pport) {
      console.Message("vantrel: no MIDI input: " + sMidiError);
      iExit = ExitUsage;
    } else {
      pmidi = std::make_unique<MidiInputDevice>(pport.get(), &engine, &console, core.InstallDir());
      std::string sChoiceError;
      if (OpenChosenMidiInput(*pmidi, opt.sMidiIn, &sChoiceError) != 0) {
        console.Message("vantrel: " + sChoiceError);
        iExit = ExitUsage;
      }
    }
  }

  // Wait until the device is open to say what plays.
  while (engine.BuffersRendered() < engine.nBuffers && Clock::now() - tStart < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (iExit == ExitOk) {
    std::string sOn = engine.DeviceReady() ? engine.Device()->Describe() : "no device";
    std::string sMidi = pmidi ? (pmidi->CurrentDevice() == MidiInPort::kVirtual ? "virtual port vantrel-midi:in"
                                                                                 : pmidi->SavedState())
                              : "none";
    console.Message("vantrel: playing " + opt.sPatch + " on " + sOn + "; MIDI in: " + sMidi +
                    (opt.dSeconds > 0 ? "" : "; Ctrl-C ends"));
  }

  ReportWatcher reports(console);
  // Command-line notes count from the moment the device plays.
  Clock::time_point tNotes = Clock::now();
  size_t iNextNote = 0;
  Clock::time_point tNextTick = Clock::now(), tNextStatus = Clock::now() + std::chrono::seconds(1);
  while (iExit == ExitOk && !g_bInterrupted) {
    if (opt.dSeconds > 0 && std::chrono::duration<double>(Clock::now() - tStart).count() >= opt.dSeconds) break;
    Clock::time_point tNow = Clock::now();
    double dNotesTime = std::chrono::duration<double>(tNow - tNotes).count();
    for (; iNextNote < anoteMsg.size() && anoteMsg[iNextNote].dTime <= dNotesTime; ++iNextNote)
      engine.PostMidiMessage(0, anoteMsg[iNextNote].uPacked);
    if (tNow >= tNextTick) {
      if (pmidi) pmidi->Tick();
      reports.Poll();
      tNextTick += std::chrono::milliseconds(500);
    }
    if (tNow >= tNextStatus) {
      console.Status(StatusLine(core, engine));
      tNextStatus += std::chrono::seconds(1);
    }
    // Short naps keep command-line notes within a few milliseconds of their times.
    std::this_thread::sleep_for(std::chrono::milliseconds(anoteMsg.size() > iNextNote ? 2 : 10));
  }
  console.EndStatus();

  // The exit: the MIDI input goes first (its window closes), then the engine stops its thread
  // and closes the device, then the engine lock is taken for good; the patches go with the core.
  pmidi.reset();
  pport.reset();
  core.ShutdownEngine();
  reports.Summary();
  if (long n = engine.Queue().Dropped())
    console.Message("vantrel: " + std::to_string(n) + " MIDI messages were dropped: they came faster than the engine took them");
  if (engine.NonFiniteSamples())
    console.Message("vantrel: " + std::to_string(engine.NonFiniteSamples()) + " samples that were not numbers were silenced");
  if (precorder) {
    bool bOk = precorder->Stop();
    if (ptap->Lost()) {
      console.Message("vantrel: the recording lost " + std::to_string(ptap->Lost() / engine.nChannels) +
                      " frames: the disk did not keep up");
      bOk = false;
    }
    if (bOk && wav.Close()) {
      console.Message("vantrel: recorded " + std::to_string(precorder->nFrames) + " frames to " + opt.sRecord);
    } else {
      console.Message("vantrel: cannot write " + opt.sRecord + ": " +
                      (precorder->sError.empty() ? wav.sError : precorder->sError));
      if (iExit == ExitOk) iExit = ExitUsage;
    }
  }
  return iExit;
}

}  // namespace

Command AddPlayCommand(CLI::App& app) {
  auto opt = std::make_shared<PlayOptions>();
  CLI::App* papp = app.add_subcommand("play", "Play a patch live on the sound device, from a MIDI input");
  papp->add_option("PATCH", opt->sPatch, "The patch file (installed on MIDI channel 1)");
  papp->add_option("--audio", opt->sAudio, "Sound system: jack, pulse, alsa, null (a clock, no sound) or default")
      ->type_name("API");
  papp->add_option("--midi-in", opt->sMidiIn, "MIDI input port: its number or name (see --list-devices), or virtual")
      ->type_name("PORT");
  papp->add_option("--note", opt->asNotes,
                   "A note played on channel 1 as if from a keyboard: MIDI key, velocity 0..1 (0.5), start s (0), "
                   "length s (held); repeatable")
      ->type_name("KEY[:VEL[:START[:LEN]]]");
  papp->add_flag("--list-devices", opt->bList, "List the audio outputs and MIDI input ports, then end");
  papp->add_option("--record", opt->sRecord, "Also write exactly what the device is sent to a 16-bit WAV file")
      ->type_name("OUT.wav");
  papp->add_option("--seconds", opt->dSeconds, "Stop after this long (default: at Ctrl-C)")->type_name("S");
  papp->footer(
      "Once a second standard error shows the output level, the peak, the auto-reductions, the sounding voices\n"
      "and the last MIDI message. When no audio device opens the engine plays on a clock, without sound.\n"
      "With --audio jack the MIDI input is a JACK port too (the virtual one is vantrel-midi:in).");
  return {papp, [opt] { return RunPlay(*opt); }};
}
