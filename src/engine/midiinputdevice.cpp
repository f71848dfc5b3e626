// The MIDI input: device list, opening, hand-over to the audio thread, dumps, active sensing.
#include "engine/midiinputdevice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "formula/errorlist.h"
#include "foundation/akstatus.h"

namespace {
constexpr uint32_t kLongErrorBit = 0x80000000u;
constexpr uint32_t kSkippedBit = 0x40000000u;
constexpr int64_t kSenseTimeout = 3;  // seconds without active sensing before all sound stops
constexpr int64_t kBusyLight = 1;     // seconds the light shows traffic after the last message
}  // namespace

MidiInputDevice::MidiInputDevice(MidiInPort* pport, MidiInputEngine* pengine, MidiInputView* pview,
                                 std::string sSysexDir)
    : pport_(pport), pengine_(pengine), pview_(pview), sSysexDir_(std::move(sSysexDir)),
      abSysex_(std::make_unique<unsigned char[]>(kSysexBytes)) {
  bufSysex_.pData = abSysex_.get();
  bufSysex_.nBufferLength = kSysexBytes;
}

MidiInputDevice::~MidiInputDevice() {
  if (bOpen_ && pport_) {
    pport_->Stop();
    pport_->Close();
  }
}

int64_t MidiInputDevice::Now() { return static_cast<int64_t>(time(nullptr)); }

std::tm MidiInputDevice::LocalTime() {
  time_t t = time(nullptr);
  std::tm tm = {};
  localtime_r(&t, &tm);
  return tm;
}

void MidiInputDevice::FillDeviceList() {
  pview_->ShowMidiMsg("");
  pview_->ShowMidiStatus("");
  aentry_.clear();
  asName_.clear();
  iSelected_ = -1;
  aentry_.push_back({"(none)", -1});
  nDevices_ = pport_ ? pport_->NumDevs() : 0;
  for (int i = 0; i < nDevices_; ++i) {
    std::string sName;
    if (int r = pport_->GetDevName(i, &sName)) {
      AKS(AKSWarn, AK_HERE, "%2d: midiInGetDevCaps() error: %d", i, r);
      continue;
    }
    aentry_.push_back({sName, i});
    if (static_cast<int>(asName_.size()) <= i) asName_.resize(static_cast<size_t>(i) + 1);
    asName_[static_cast<size_t>(i)] = sName;
  }
  for (size_t i = 0; i < aentry_.size(); ++i)
    if (aentry_[i].sName == sDefault_) {
      iSelected_ = static_cast<int>(i);
      break;
    }
}

void MidiInputDevice::Select(int iEntry) {
  if (iEntry < 0 || iEntry >= static_cast<int>(aentry_.size())) return;
  iSelected_ = iEntry;
  if (pengine_) pengine_->AllSoundOff();
  OpenDevice(aentry_[static_cast<size_t>(iEntry)].iDevice);
}

void MidiInputDevice::SelectionChanged() {
  if (iSelected_ >= 0) Select(iSelected_);
}

void MidiInputDevice::CloseCurrent(int d) {
  if (!bOpen_) return;
  if (int r = pport_->Stop()) {
    AKS(AKSWarn, AK_HERE, "midiInStop( %d ): %s", d, pport_->ErrorText(r).c_str());
    pview_->ShowMidiStatus("midiInStop() FAILED");
  }
  if (int r = pport_->Close()) {
    AKS(AKSWarn, AK_HERE, "midiInClose( %d ): error %s", d, pport_->ErrorText(r).c_str());
    pview_->ShowMidiStatus("midiInClose() FAILED");
  }
  bOpen_ = false;
  iCurrent_ = -1;
}

void MidiInputDevice::OpenDevice(int d) {
  CloseCurrent(d);
  if (d < 0) return;
  if (d >= static_cast<int>(asName_.size())) {
    char sz[96];
    snprintf(sz, sizeof sz, "asked for device %d, have %d device(s)", d + 1, nDevices_);
    pview_->ShowMidiStatus(sz);
    return;
  }
  FinishOpen(d);
}

void MidiInputDevice::OpenVirtual() {
  CloseCurrent(MidiInPort::kVirtual);
  FinishOpen(MidiInPort::kVirtual);
}

void MidiInputDevice::FinishOpen(int d) {
  if (!pport_) return;
  if (int r = pport_->Open(d, this)) {
    AKS(AKSWarn, AK_HERE, "midiInOpen( %d ): error %s", d, pport_->ErrorText(r).c_str());
    pview_->ShowMidiStatus("midiInOpen() FAILED");
    return;
  }
  bLongData_.store(false);
  bufSysex_.uFlags.store(0);
  bufSysex_.nBytesRecorded = 0;
  if (int r = pport_->Prepare(&bufSysex_)) {
    AKS(AKSWarn, AK_HERE, "midiInPrepareHeader(): error %s", pport_->ErrorText(r).c_str());
    pview_->ShowMidiStatus("midiInPrepareHeader() FAILED");
    pport_->Close();
    return;
  }
  const char* pszFailed = nullptr;
  int r = pport_->AddBuffer(&bufSysex_);
  if (r) {
    AKS(AKSWarn, AK_HERE, "midiInAddBuffer(): error %s", pport_->ErrorText(r).c_str());
    pszFailed = "midiInAddBuffer() FAILED";
  } else if ((r = pport_->Start())) {
    AKS(AKSWarn, AK_HERE, "midiInStart(): error %s", pport_->ErrorText(r).c_str());
    pszFailed = "midiInStart() FAILED";
  }
  if (pszFailed) {
    pview_->ShowMidiStatus(pszFailed);
    if (int r2 = pport_->Unprepare(&bufSysex_))
      AKS(AKSWarn, AK_HERE, "midiInUnprepareHeader(): error %s", pport_->ErrorText(r2).c_str());
    // Closed even when the buffer could not be unprepared: a port left open here could never be
    // closed again (the current device is none), and the next opening would fail on it.
    if (int r2 = pport_->Close()) AKS(AKSWarn, AK_HERE, "midiInClose( %d ): error %s", d, pport_->ErrorText(r2).c_str());
    return;
  }
  pview_->ShowMidiStatus("MIDI successfully started");
  iCurrent_ = d;
  bOpen_ = true;
}

std::string MidiInputDevice::SavedState() const {
  if (!bOpen_) return "";
  if (iCurrent_ == MidiInPort::kVirtual) return "virtual";
  return asName_[static_cast<size_t>(iCurrent_)];
}

void MidiInputDevice::OnShortData(uint32_t uPacked) {
  int64_t t = Now();
  if ((uPacked & 0xFF) == 0xFE) {
    tLastSense_.store(t, std::memory_order_relaxed);
    return;
  }
  tLastMessage_.store(t, std::memory_order_relaxed);
  uLastMessage_.store(uPacked, std::memory_order_relaxed);
  uint32_t uFrame = 0;
  bool bPosted = pengine_ && (pport_->EventFrame(&uFrame) ? pengine_->PostMidiMessageAt(pport_->Handle(), uPacked, uFrame)
                                                          : pengine_->PostMidiMessage(pport_->Handle(), uPacked));
  if (!bPosted) nDropped_.fetch_add(1, std::memory_order_relaxed);
}

void MidiInputDevice::OnLongData(MidiSysexBuffer*) { bLongData_.store(true, std::memory_order_release); }

void MidiInputDevice::OnError(uint32_t uPacked) { PushError(uPacked & ~kLongErrorBit); }

void MidiInputDevice::OnLongError(uint32_t uPacked) { PushError(uPacked | kLongErrorBit); }

void MidiInputDevice::OnLongSkipped(uint32_t nBytes) { PushError(kSkippedBit | std::min(nBytes, kSkippedBit - 1)); }

void MidiInputDevice::PushError(uint32_t u) {
  uint32_t iWrite = iErrorWrite_.load(std::memory_order_relaxed);
  if (iWrite - iErrorRead_.load(std::memory_order_acquire) >= kErrors) return;
  auError_[iWrite % kErrors] = u;
  iErrorWrite_.store(iWrite + 1, std::memory_order_release);
}

void MidiInputDevice::SaveDump() {
  std::tm tm = LocalTime();
  char szBase[64];
  snprintf(szBase, sizeof szBase, "sysex_%02d%02d%02d_%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
           tm.tm_hour, tm.tm_min, tm.tm_sec);
  const std::string& sDir = sSysexDir_;
  char szBox[1024];
  if (sDir.empty()) {
    // A read-only installation run without a home folder: there is nowhere to keep it.
    AKS(AKSWarn, AK_HERE, "no folder for system-exclusive dumps");
    snprintf(szBox, sizeof szBox, "Cannot save \"%s.syx\": the installation is read-only and HOME is not set", szBase);
    pview_->ErrorBox("Error Saving", szBox);
    return;
  }
  // An installation without the folder, or a user folder not made yet, still keeps its dumps.
  std::error_code ec;
  std::filesystem::create_directories(sDir, ec);
  // A second dump within the same second gets a number rather than overwriting the first.
  std::string sFile;
  int fd = -1;
  for (int n = 1; n <= 100; ++n) {
    sFile = sDir + "/" + szBase + (n > 1 ? "_" + std::to_string(n) : "") + ".syx";
    fd = open(sFile.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd >= 0 || errno != EEXIST) break;
  }
  if (fd < 0) {
    AKS(AKSWarn, AK_HERE, "_open( \"%s\" ) = 0: %s", sFile.c_str(), strerror(errno));
    snprintf(szBox, sizeof szBox, "Cannot open file \"%s\": %s", sFile.c_str(), strerror(errno));
    pview_->ErrorBox("Error Saving", szBox);
    return;
  }
  ssize_t nWritten = write(fd, bufSysex_.pData, bufSysex_.nBytesRecorded);
  if (nWritten != static_cast<ssize_t>(bufSysex_.nBytesRecorded)) {
    const char* pszError = nWritten < 0 ? strerror(errno) : "the disk is full";
    AKS(AKSWarn, AK_HERE, "_write() = %d: %s", static_cast<int>(nWritten), pszError);
    snprintf(szBox, sizeof szBox, "Cannot write file \"%s\": %s", sFile.c_str(), pszError);
    pview_->ErrorBox("Error Saving", szBox);
    close(fd);
    return;
  }
  if (close(fd) != 0) {
    AKS(AKSWarn, AK_HERE, "_close( \"%s\" ) = 0: %s", sFile.c_str(), strerror(errno));
    snprintf(szBox, sizeof szBox, "Cannot close file \"%s\": %s", sFile.c_str(), strerror(errno));
    pview_->ErrorBox("Error Saving", szBox);
    return;
  }
  sLastDump_ = sFile;
  // A dump has no channel; the number shown is the input device's (1 for the first port, 0 for
  // the virtual one).
  ERRADD(-1, "Ch%02d SYSEX dump stored in %s", iCurrent_ >= 0 ? iCurrent_ + 1 : 0, sFile.c_str());
  if (bufSysex_.nBytesLost > 0)
    ERRADD(-1, "SYSEX dump cut to its first %u bytes, the size of the buffer; bytes lost: %u",
           bufSysex_.nBytesRecorded, bufSysex_.nBytesLost);
}

void MidiInputDevice::Tick() {
  if (bLongData_.exchange(false, std::memory_order_acquire)) SaveDump();
  if (bOpen_ && !bLost_ && pport_->Gone()) {
    // The port stays open as far as we are concerned (closing it calls nothing on the dead
    // system); the player keeps the sound and learns why the keys went quiet.
    bLost_ = true;
    AKS(AKSWarn, AK_HERE, "MIDI input %d lost: its device or its MIDI system has gone", iCurrent_);
    pview_->ShowMidiStatus("MIDI input lost: its device or its server has gone");
  }
  for (uint32_t iRead = iErrorRead_.load(); iRead != iErrorWrite_.load(std::memory_order_acquire); ++iRead) {
    uint32_t u = auError_[iRead % kErrors];
    iErrorRead_.store(iRead + 1, std::memory_order_release);
    if (u & kSkippedBit) {
      // The one buffer is not given back after a dump, so only the first dump of an opening is kept.
      ERRADD(-1, "SYSEX dump of %u bytes not captured: only the first dump after the MIDI input opens is kept",
             u & ~kSkippedBit);
      continue;
    }
    ERRADD(-1, u & kLongErrorBit ? "Ch%02d Long Error" : "Ch%02d MIDI Error", static_cast<int>(u & 0x0F) + 1);
  }
  if (!pengine_) return;
  int64_t t = Now();
  int64_t tSense = tLastSense_.load(std::memory_order_relaxed);
  if (tSense != 0 && t - tSense > kSenseTimeout) {
    ERRADD(-1, "%s", "MIDI ACTIVE SENSING messages not received; ending all notes.");
    pengine_->AllSoundOff();
    tLastSense_.store(0, std::memory_order_relaxed);
  }
  int64_t tMessage = tLastMessage_.load(std::memory_order_relaxed);
  int iLight = tMessage != 0 && t - tMessage <= kBusyLight ? 3
               : tLastSense_.load(std::memory_order_relaxed) != 0 ? 2
               : bOpen_                                            ? 1
                                                                   : 0;
  if (iLight != iLight_) {
    iLight_ = iLight;
    pview_->ShowLight(iLight);
  }
}
