// vantrel play: the live engine without windows: a patch on the sound device, played from a MIDI
// input, with a once-a-second status line and an optional recording of what the device got.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
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

#include "app/appcore.h"
#include "app/midichoice.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/notes.h"
#include "cli/play_console.h"
#include "cli/play_take.h"
#include "cli/statuslog.h"
#include "engine/audiodevice.h"
#include "engine/interpreter.h"
#include "engine/midi.h"
#include "engine/midiinput.h"
#include "engine/midiinputdevice.h"
#include "formula/errorlist.h"
#include "foundation/akpaths.h"
#include "foundation/akstatus.h"
#include "patch/patch.h"

namespace {

constexpr double kMaxSeconds = 7 * 24 * 3600.0;  // a week: beyond that a typo is likelier than intent
constexpr double kTapSeconds = 4;                // the recorder may fall this far behind before samples are lost

struct PlayOptions {
  std::string sPatch, sAudio = "default", sMidiIn, sRecord;
  std::vector<std::string> asNotes;
  double dSeconds = 0;  // 0: until interrupted
  bool bList = false;
};

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

// A level in dBFS: 0 is full scale, the patches' loud output goes above it.
std::string Dbfs(double dValue) {
  if (!(dValue > 0)) return "-inf dBFS";
  char sz[32];
  snprintf(sz, sizeof sz, "%.1f dBFS", 20 * std::log10(dValue));
  return sz;
}

// The status line's fields, most important first (a narrow terminal shows the first ones).
std::vector<std::string> StatusFields(AppCore& core, Interpreter& engine) {
  int nVoices = core.SoundingVoices();
  std::vector<std::string> as;
  as.push_back("level " + Dbfs(engine.Level()));
  as.push_back("peak " + Dbfs(engine.SignalPeak()));
  // The engine's peak is the reduction threshold: output is scaled by 1 / threshold.
  double dThreshold = engine.Peak();
  if (dThreshold > 1) {
    char sz[48];
    snprintf(sz, sizeof sz, "reduced %.1f dB", -20 * std::log10(dThreshold));
    as.push_back(sz);
  } else {
    as.push_back("no reduction");
  }
  as.push_back("voices " + std::to_string(nVoices));
  // Gaps the engine caused (no buffer ready), apart from the sound server's own xruns.
  if (long n = engine.LatePeriods()) as.push_back("engine late " + std::to_string(n));
  if (long n = engine.ServerXruns()) as.push_back("xruns " + std::to_string(n));
  char szMidi[80] = "none";
  if (uint32_t u = engine.LastMidiMessage()) DescribeMidiMessage(u, szMidi, sizeof szMidi);
  as.push_back(std::string("last MIDI: ") + szMidi);
  return as;
}

// Where the status log's plain diagnostics go while playing: above the status line.
Console* g_pconsole = nullptr;
void MessageAboveStatus(const std::string& s) {
  if (Console* pconsole = g_pconsole) pconsole->Message(s);
}

// Opens the MIDI input asked for (see OpenChosenMidiInput); false when none opened.
bool OpenMidiInput(MidiInputDevice& midi, const std::string& sPort, Console& console) {
  std::string sError;
  if (OpenChosenMidiInput(midi, sPort, &sError) == 0) return true;
  if (!sError.empty()) console.Message("vantrel: " + sError);
  return false;
}

int RunPlay(const PlayOptions& opt) {
  AudioApi api;
  if (!ParseAudioApi(opt.sAudio, &api)) return Usage("--audio must be jack, pulse, alsa, null or default");
  // MIDI follows the sound system: JACK audio with JACK MIDI, ALSA with the ALSA sequencer.
  MidiSystem midiSystem = api == AudioApi::Jack ? MidiSystem::Jack : api == AudioApi::Alsa ? MidiSystem::Alsa : MidiSystem::Default;
  if (opt.bList) return ListDevices(midiSystem);
  if (opt.sPatch.empty()) return Usage("play needs a PATCH (or --list-devices)");
  if (!(opt.dSeconds >= 0) || opt.dSeconds > kMaxSeconds)
    return Usage("--seconds must be 0 (play until Ctrl-C) or a time in seconds up to 604800");
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
  // From here on the status log's warnings (a device that does not open or goes away) are the
  // user's business too, printed above the status line.
  g_pconsole = &console;
  SetUserMessageSink(MessageAboveStatus);
  EchoWarnings(true);

  // From here on an end request (Ctrl-C, SIGTERM, SIGHUP) ends the run in order.
  InstallPlaySignals();
  // The recording: what the engine hands the device, 16-bit, at the device's rate.
  std::unique_ptr<Take> ptake;
  if (!opt.sRecord.empty()) {
    ptake = std::make_unique<Take>();
    if (!ptake->Open(opt.sRecord, engine.nChannels, static_cast<int>(engine.dFreqEval), kTapSeconds))
      return Usage("cannot write " + opt.sRecord + ": " + ptake->sError);
    engine.SetTap(ptake->Tap());
    ptake->Start();
  }

  engine.SetOutput(MakeAudioOutput(api));
  KeyInput keys;
  // The silent clock stands in only when no output was named.
  engine.SetFallbackToNull(api == AudioApi::Default);
  using Clock = std::chrono::steady_clock;
  Clock::time_point tStart = Clock::now();
  core.StartEngine();
  int iExit = ExitOk;
  // A named output that cannot play (or settings that cannot feed it) ends the run before any
  // MIDI port opens, with the fix in one line.
  if (engine.WaitDeviceReady(10) && engine.DeviceFailed()) {
    console.Message("vantrel: " + engine.DeviceError());
    iExit = ExitRefused;
  }

  // The MIDI input opens once the engine runs, so its first note already sounds.
  std::unique_ptr<MidiInPort> pport;
  std::unique_ptr<MidiInputDevice> pmidi;
  if (iExit == ExitOk && !opt.sMidiIn.empty()) {
    std::string sMidiError;
    pport = MakeMidiInPort(midiSystem, &sMidiError);
    if (!pport) {
      console.Message("vantrel: no MIDI input: " + sMidiError);
      iExit = ExitUsage;
    } else {
      pmidi = std::make_unique<MidiInputDevice>(pport.get(), &engine, &console, AKWriteDir(AKPlaceSysex));
      if (!OpenMidiInput(*pmidi, opt.sMidiIn, console)) iExit = ExitUsage;
    }
  }

  // Wait until the device is open to say what plays.
  while (engine.BuffersRendered() < engine.nBuffers && Clock::now() - tStart < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (iExit == ExitOk) {
    std::string sOn = engine.DeviceReady() ? engine.Device()->Describe() : "no device";
    std::string sMidi = pmidi ? (pmidi->CurrentDevice() == MidiInPort::kVirtual ? "virtual port " + pmidi->PortName()
                                                                                 : pmidi->SavedState())
                              : "none";
    bool bKeys = keys.Start();
    console.Message("vantrel: playing " + opt.sPatch + " on " + sOn + "; MIDI in: " + sMidi +
                    (opt.dSeconds > 0 ? "" : "; Ctrl-C ends") + (bKeys ? "; r resets the auto-reduction" : ""));
  }

  ReportWatcher reports(console);
  // Command-line notes and --seconds count from the moment the device plays: a sound server may
  // start pulling a few tenths of a second after its stream opened.
  for (Clock::time_point tGiveUp = Clock::now() + std::chrono::seconds(2);
       !engine.SoundStarted() && Clock::now() < tGiveUp && EndRequests() == 0;)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  Clock::time_point tSound = Clock::now();
  size_t iNextNote = 0;
  Clock::time_point tNextTick = Clock::now(), tNextStatus = Clock::now() + std::chrono::seconds(1);
  while (iExit == ExitOk && EndRequests() == 0) {
    Clock::time_point tNow = Clock::now();
    double dSoundTime = std::chrono::duration<double>(tNow - tSound).count();
    if (opt.dSeconds > 0 && dSoundTime >= opt.dSeconds) break;
    // Posted a second ahead, each lands on its own frame whatever the scheduling of this thread.
    for (; iNextNote < anoteMsg.size() && anoteMsg[iNextNote].dTime <= dSoundTime + 1; ++iNextNote)
      engine.PostMidiMessageAtTime(anoteMsg[iNextNote].uPacked, anoteMsg[iNextNote].dTime);
    if (keys.Poll() == 'r' || TakeResetRequest()) {
      engine.ResetAutoReduce();
      console.Message("vantrel: auto-reduction reset");
    }
    if (ptake)
      if (std::string s = ptake->NewFailure(); !s.empty()) console.Message("vantrel: " + s);
    if (tNow >= tNextTick) {
      if (pmidi) pmidi->Tick();
      reports.Poll();
      tNextTick += std::chrono::milliseconds(500);
    }
    if (tNow >= tNextStatus) {
      console.Status(StatusFields(core, engine));
      tNextStatus += std::chrono::seconds(1);
    }
    // Short naps keep command-line notes within a few milliseconds of their times.
    std::this_thread::sleep_for(std::chrono::milliseconds(anoteMsg.size() > iNextNote ? 2 : 10));
  }
  console.EndStatus();

  // The exit: the MIDI input goes first (its window closes), then the engine stops its thread
  // and closes the device, then the engine lock is taken for good; the patches go with the core.
  // A further Ctrl-C meanwhile gives this a few seconds more, then the take is saved as it is.
  {
    ShutdownGuard guard([&console](const std::string& s) { console.Message(s); },
                        [&] {
                          keys.Restore();
                          if (ptake) console.Message("vantrel: ended before the devices closed; the recording is in " + ptake->Rescue());
                        });
    keys.Restore();
    pmidi.reset();
    pport.reset();
    core.ShutdownEngine();
    reports.Summary();
    if (long n = engine.Queue().Dropped())
      console.Message("vantrel: " + std::to_string(n) + " MIDI messages were dropped: they came faster than the engine took them");
    if (engine.NonFiniteSamples())
      console.Message("vantrel: " + std::to_string(engine.NonFiniteSamples()) + " samples that were not numbers were silenced");
    if (ptake) {
      bool bWhole = ptake->Finish();
      char szSeconds[32];
      snprintf(szSeconds, sizeof szSeconds, "%.2f s", ptake->Seconds());
      if (bWhole) {
        console.Message("vantrel: recorded " + std::string(szSeconds) + " (" + std::to_string(ptake->Frames()) +
                        " frames) to " + opt.sRecord);
      } else {
        console.Message("vantrel: cannot write " + opt.sRecord + ": " + ptake->sError);
        if (iExit == ExitOk) iExit = ExitUsage;
      }
    }
  }
  SetUserMessageSink(nullptr);
  g_pconsole = nullptr;
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
  papp->add_option("--seconds", opt->dSeconds,
                   "Stop this long after the sound starts; 0 (the default) plays until Ctrl-C")
      ->type_name("S");
  papp->footer(
      "Once a second standard error shows the level and the peak of what the patches play, in dBFS (0 is full\n"
      "scale), the auto-reduction in dB that keeps louder output from clipping, the sounding voices and the last\n"
      "MIDI message. The key r (when standard input is the terminal) or the signal SIGUSR1 resets the\n"
      "auto-reduction. Ctrl-C, SIGTERM and SIGHUP end the run in order and keep the recording; a second Ctrl-C\n"
      "ends it at the latest 3 s later. When no audio device opens the engine plays on a clock, without sound.\n"
      "With --audio jack the MIDI input is a JACK port too (the virtual one is vantrel-midi:in).");
  return {papp, [opt] { return RunPlay(*opt); }};
}
