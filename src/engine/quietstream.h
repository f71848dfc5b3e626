// Silences the C++ error stream while a sound or MIDI library starts: RtAudio and RtMidi print
// their own errors there ("MidiInAlsa::initialize: error creating ALSA sequencer client object.")
// before they report them to us, and we say what failed in our own words, or try the next API.
#pragma once

#include <iostream>
#include <mutex>

class QuietLibraryStream {
 public:
  QuietLibraryStream() {
    // Guards may overlap on several threads (the audio thread opens the device while the main
    // thread opens MIDI): the first one in silences, the last one out restores.
    std::lock_guard<std::mutex> lock(Mutex());
    if (Count()++ == 0) Saved() = std::cerr.rdbuf(nullptr);
  }
  ~QuietLibraryStream() {
    std::lock_guard<std::mutex> lock(Mutex());
    if (--Count() == 0) std::cerr.rdbuf(Saved());
  }
  QuietLibraryStream(const QuietLibraryStream&) = delete;
  QuietLibraryStream& operator=(const QuietLibraryStream&) = delete;

 private:
  static std::mutex& Mutex() {
    static std::mutex m;
    return m;
  }
  static int& Count() {
    static int n = 0;
    return n;
  }
  static std::streambuf*& Saved() {
    static std::streambuf* p = nullptr;
    return p;
  }
};
