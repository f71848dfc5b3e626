// The audio thread's message queue: buffer-done notifications, MIDI data and the quit message,
// posted without blocking from any thread and taken one at a time, in arrival order.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <semaphore>

enum AudioMessageType : uint32_t {
  AudioMsgNone = 0,        // a wake-up with nothing to do; ignored
  AudioMsgBufferDone = 1,  // the output device played a buffer (p1: instance, p2: buffer descriptor)
  AudioMsgMidiData = 2,    // a complete short MIDI message (p1: input device handle, p2: packed message)
  AudioMsgQuit = 3,        // end the thread (p2: exit code)
  AudioMsgMidiTimed = 4,   // a short MIDI message with its arrival time (p1: the sound server's frame
                           // time, p2: packed message)
  AudioMsgMidiAtFrame = 5, // a short MIDI message for a given engine frame (p1: the frame, counted
                           // from the first one rendered, p2: packed message)
  AudioMsgAllSoundOff = 6, // ALL SOUND OFF asked for by another thread (the MIDI input's watch)
};

struct AudioMessage {
  uint32_t uType;
  uintptr_t p1;
  uintptr_t p2;
};

// A bounded multi-producer, single-consumer queue (sequence-numbered slots, so producers never
// take a lock) with a counting semaphore that wakes the consumer. Posting never blocks: when the
// queue is full the message is refused and counted. MIDI data may only fill the queue up to
// kReserve slots below capacity, so a flood of notes can never crowd out a buffer-done
// notification (at most one per buffer in circulation, 64 at most) or the quit message.
class AudioMessageQueue {
 public:
  static constexpr size_t kCapacity = 4096;  // about 1.3 s of notes at MIDI's full wire speed
  static constexpr size_t kReserve = 128;    // room kept for buffer-done and quit messages

  AudioMessageQueue() {
    for (size_t i = 0; i < kCapacity; ++i) aslot_[i].nSequence.store(i, std::memory_order_relaxed);
  }
  AudioMessageQueue(const AudioMessageQueue&) = delete;
  AudioMessageQueue& operator=(const AudioMessageQueue&) = delete;

  // Any thread, never blocks. False when the queue is full (the message is dropped and counted).
  bool Post(uint32_t uType, uintptr_t p1, uintptr_t p2) {
    bool bMidi = uType == AudioMsgMidiData || uType == AudioMsgMidiTimed || uType == AudioMsgMidiAtFrame;
    size_t nLimit = bMidi ? kCapacity - kReserve : kCapacity;
    // Claim room first: the claimed count never falls below the messages in the slots, so a
    // claimed producer always finds its slot free.
    if (nClaimed_.fetch_add(1, std::memory_order_acq_rel) >= nLimit) {
      nClaimed_.fetch_sub(1, std::memory_order_acq_rel);
      nDropped_.fetch_add(1, std::memory_order_relaxed);
      return false;
    }
    size_t iPos = iEnqueue_.fetch_add(1, std::memory_order_relaxed);
    Slot& slot = aslot_[iPos % kCapacity];
    // The slot's previous message has been taken already (see the claim above); the consumer may
    // still be finishing its read, which takes a few instructions.
    while (slot.nSequence.load(std::memory_order_acquire) != iPos) {
    }
    slot.msg = AudioMessage{uType, p1, p2};
    slot.nSequence.store(iPos + 1, std::memory_order_release);
    semaphore_.release();
    return true;
  }

  // The consumer thread only: waits for the next message.
  AudioMessage Take() {
    semaphore_.acquire();
    AudioMessage msg;
    while (!TryPop(&msg)) {
      // The producer that woke us has claimed its slot and is writing it.
    }
    return msg;
  }

  // The consumer thread only: the next message if one is there.
  bool TryTake(AudioMessage* pmsg) {
    if (!semaphore_.try_acquire()) return false;
    while (!TryPop(pmsg)) {
    }
    return true;
  }

  // Messages refused because the queue was full.
  long Dropped() const { return nDropped_.load(std::memory_order_relaxed); }
  size_t Pending() const { return nClaimed_.load(std::memory_order_relaxed); }

 private:
  struct alignas(64) Slot {
    std::atomic<size_t> nSequence;
    AudioMessage msg;
  };

  bool TryPop(AudioMessage* pmsg) {
    Slot& slot = aslot_[iDequeue_ % kCapacity];
    if (slot.nSequence.load(std::memory_order_acquire) != iDequeue_ + 1) return false;
    *pmsg = slot.msg;
    slot.nSequence.store(iDequeue_ + kCapacity, std::memory_order_release);
    ++iDequeue_;
    nClaimed_.fetch_sub(1, std::memory_order_acq_rel);
    return true;
  }

  Slot aslot_[kCapacity];
  alignas(64) std::atomic<size_t> iEnqueue_{0};
  alignas(64) std::atomic<size_t> nClaimed_{0};
  std::atomic<long> nDropped_{0};
  size_t iDequeue_ = 0;  // consumer only
  std::counting_semaphore<kCapacity + 1> semaphore_{0};
};
