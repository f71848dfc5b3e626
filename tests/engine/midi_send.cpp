// midi_send: a second MIDI client for the live engine's end-to-end test. It waits for a MIDI
// input port, connects to it and sends timed messages, printing when each actually went
// ("sent 1.0002 on"); with --listen it also takes the audio of a JACK client, prints how long
// the first note on took to sound there ("latency_ms 12.3") and with --capture writes the left
// channel it heard, float samples from the first event on, to a raw file. With --hold it stays
// connected after its events until it is killed (a client that goes down with the server).
//
//   midi_send [--listen CLIENT [--capture FILE]] [--wait S] [--hold] PORT EVENT...
//   EVENT: T:on:KEY:VEL | T:off:KEY | T:raw:HEXBYTES   (T in seconds after connecting)
#include <RtAudio.h>
#include <RtMidi.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Event {
  double dAt;
  std::vector<unsigned char> ab;
  bool bNoteOn;
};

bool ParseEvent(const std::string& s, Event* pevent) {
  std::vector<std::string> as;
  size_t i = 0;
  for (size_t j; (j = s.find(':', i)) != std::string::npos; i = j + 1) as.push_back(s.substr(i, j - i));
  as.push_back(s.substr(i));
  if (as.size() < 2) return false;
  pevent->dAt = atof(as[0].c_str());
  pevent->bNoteOn = false;
  if (as[1] == "on" && as.size() == 4) {
    pevent->ab = {0x90, static_cast<unsigned char>(atoi(as[2].c_str()) & 0x7F),
                  static_cast<unsigned char>(atoi(as[3].c_str()) & 0x7F)};
    pevent->bNoteOn = true;
  } else if (as[1] == "off" && as.size() == 3) {
    pevent->ab = {0x80, static_cast<unsigned char>(atoi(as[2].c_str()) & 0x7F), 0};
  } else if (as[1] == "raw" && as.size() == 3 && as[2].size() % 2 == 0) {
    for (size_t k = 0; k < as[2].size(); k += 2)
      pevent->ab.push_back(static_cast<unsigned char>(strtol(as[2].substr(k, 2).c_str(), nullptr, 16)));
  } else {
    return false;
  }
  return true;
}

// The audio of one JACK client, watched for the first sound after the note on.
struct Listener {
  std::atomic<int64_t> tNoteNs{0};   // when the note on was sent
  std::atomic<int64_t> tSoundNs{0};  // when the first sounding frame was played
  unsigned nRate = 44100;
  // The capture: preallocated, written by JACK's thread from the first event on.
  std::vector<float> afCapture;
  std::atomic<size_t> nCaptured{0};
  std::atomic<bool> bCapture{false};

  static int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
  }
  static int Callback(void*, void* pvIn, unsigned nFrames, double, RtAudioStreamStatus, void* pvUser) {
    auto* pself = static_cast<Listener*>(pvUser);
    int64_t tNow = NowNs();
    auto* af = static_cast<const float*>(pvIn);
    if (pself->bCapture.load()) {
      size_t n = pself->nCaptured.load();
      for (unsigned i = 0; i < nFrames && n < pself->afCapture.size(); ++i) pself->afCapture[n++] = af[2 * i];
      pself->nCaptured.store(n);
    }
    if (pself->tNoteNs.load() == 0 || pself->tSoundNs.load() != 0) return 0;
    for (unsigned i = 0; i < nFrames; ++i)
      if (std::fabs(af[2 * i]) > 1e-4f || std::fabs(af[2 * i + 1]) > 1e-4f) {
        // The period ends about now; frame i sounded (nFrames - i) frames before its end.
        pself->tSoundNs.store(tNow - static_cast<int64_t>((nFrames - i) * 1e9 / pself->nRate));
        break;
      }
    return 0;
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::string sListen, sPort, sCapture;
  double dWait = 10;
  bool bHold = false;
  std::vector<Event> aevent;
  for (int i = 1; i < argc; ++i) {
    std::string s = argv[i];
    if (s == "--listen" && i + 1 < argc) sListen = argv[++i];
    else if (s == "--wait" && i + 1 < argc) dWait = atof(argv[++i]);
    else if (s == "--capture" && i + 1 < argc) sCapture = argv[++i];
    else if (s == "--hold") bHold = true;
    else if (sPort.empty()) sPort = s;
    else {
      Event e;
      if (!ParseEvent(s, &e)) {
        fprintf(stderr, "midi_send: bad event %s\n", s.c_str());
        return 2;
      }
      aevent.push_back(e);
    }
  }
  if (sPort.empty()) {
    fprintf(stderr, "usage: midi_send [--listen CLIENT [--capture FILE]] [--wait S] [--hold] PORT EVENT...\n");
    return 2;
  }
  try {
    RtMidiOut out(RtMidi::UNIX_JACK, "midi_send");
    int iPort = -1;
    for (auto tEnd = Clock::now() + std::chrono::duration<double>(dWait); iPort < 0;) {
      for (unsigned i = 0; i < out.getPortCount(); ++i)
        if (out.getPortName(i).find(sPort) != std::string::npos) iPort = static_cast<int>(i);
      if (iPort >= 0) break;
      if (Clock::now() > tEnd) {
        fprintf(stderr, "midi_send: no port named %s\n", sPort.c_str());
        return 1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    out.openPort(static_cast<unsigned>(iPort), "out");

    Listener listener;
    std::unique_ptr<RtAudio> paudio;
    if (!sListen.empty()) {
      paudio = std::make_unique<RtAudio>(RtAudio::UNIX_JACK);
      paudio->showWarnings(false);
      // The client may register its audio ports a moment after its MIDI port.
      int iDevice = -1;
      for (auto tEnd = Clock::now() + std::chrono::duration<double>(dWait); iDevice < 0 && Clock::now() < tEnd;) {
        for (unsigned i = 0; i < paudio->getDeviceCount(); ++i)
          if (paudio->getDeviceInfo(i).name == sListen) iDevice = static_cast<int>(i);
        if (iDevice < 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (iDevice < 0) {
        fprintf(stderr, "midi_send: no JACK client %s to listen to\n", sListen.c_str());
        return 1;
      }
      RtAudio::StreamParameters in;
      in.deviceId = static_cast<unsigned>(iDevice);
      in.nChannels = 2;
      RtAudio::StreamOptions options;
      options.streamName = "midi_send_listen";
      unsigned nFrames = 256;
      paudio->openStream(nullptr, &in, RTAUDIO_FLOAT32, 44100, &nFrames, &Listener::Callback, &listener, &options);
      listener.nRate = paudio->getStreamSampleRate();
      // Room for every event and a second after the last.
      double dLast = aevent.empty() ? 0 : aevent.back().dAt;
      if (!sCapture.empty()) listener.afCapture.resize(static_cast<size_t>((dLast + 1.5) * listener.nRate));
      paudio->startStream();
    }

    Clock::time_point tStart = Clock::now();
    listener.bCapture.store(!sCapture.empty());
    for (const Event& e : aevent) {
      std::this_thread::sleep_until(tStart + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(e.dAt)));
      if (e.bNoteOn && listener.tNoteNs.load() == 0) listener.tNoteNs.store(Listener::NowNs());
      double dSent = std::chrono::duration<double>(Clock::now() - tStart).count();
      out.sendMessage(&e.ab);
      printf("sent %.4f %s\n", dSent, e.bNoteOn ? "on" : e.ab[0] == 0x80 ? "off" : "raw");
    }
    if (!sCapture.empty()) {
      for (int i = 0; i < 500 && listener.nCaptured.load() < listener.afCapture.size(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      listener.bCapture.store(false);
      FILE* pfile = fopen(sCapture.c_str(), "wb");
      size_t n = listener.nCaptured.load();
      if (!pfile || fwrite(listener.afCapture.data(), sizeof(float), n, pfile) != n) {
        fprintf(stderr, "midi_send: cannot write %s\n", sCapture.c_str());
        return 1;
      }
      fclose(pfile);
    }
    if (paudio) {
      for (int i = 0; i < 200 && listener.tSoundNs.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (listener.tSoundNs.load() != 0)
        printf("latency_ms %.1f\n", (listener.tSoundNs.load() - listener.tNoteNs.load()) / 1e6);
      else
        printf("latency_ms none\n");
      paudio->stopStream();
      paudio->closeStream();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let JACK deliver the last messages
    fflush(stdout);
    while (bHold) std::this_thread::sleep_for(std::chrono::seconds(1));
  } catch (const RtMidiError& e) {
    fprintf(stderr, "midi_send: %s\n", e.getMessage().c_str());
    return 1;
  } catch (const RtAudioError& e) {
    fprintf(stderr, "midi_send: %s\n", e.getMessage().c_str());
    return 1;
  }
  return 0;
}
