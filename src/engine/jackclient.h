// A JACK client that knows when its server has gone away. The server's shutdown callback marks
// it dead, and a dead client is never called again: libjack can hang for good in
// jack_client_close on a client whose server has gone (its own thread waits on a condition
// that nobody signals any more). Closing a live one is bounded in time for the same reason,
// since the server may go away while we close.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <memory>
#include <string>

class JackClient {
 public:
  // Opens a client named pszName on the server JACK_DEFAULT_SERVER names (the default one
  // otherwise), never starting a server. Null with a plain reason when no server runs.
  static std::unique_ptr<JackClient> Open(const char* pszName, std::string* psError);
  // Closes the client unless it is dead; returns within kCloseMs whatever libjack does.
  ~JackClient();
  JackClient(const JackClient&) = delete;
  JackClient& operator=(const JackClient&) = delete;

  static constexpr int kCloseMs = 300;  // two clients close within a second of Ctrl-C

  jack_client_t* Handle() const { return pclient_; }
  // Set (on libjack's thread) once the server has shut the client down; never cleared.
  bool Dead() const { return pstate_->bDead.load(std::memory_order_acquire); }
  // The name the server gave (a second "vantrel" becomes "vantrel-01").
  const std::string& Name() const { return sName_; }
  // The server's words when it shut us down ("" until then, or when it gave none).
  std::string Reason() const;

  // Before Activate: the owner's process and xrun routines (either may be null), called with
  // pvOwner until Detach.
  void SetCallbacks(JackProcessCallback pfnProcess, JackXRunCallback pfnXrun, void* pvOwner);
  int Activate() { return jack_activate(pclient_); }
  // No owner routine runs after this returns (the owner may go); libjack itself may still call
  // in until the client is closed, and then finds nobody.
  void Detach();

 private:
  // What libjack's threads see: the shutdown flag and the owner's routines. It outlives the
  // client object when the client cannot be closed (libjack may still call into it), so it is
  // freed only once libjack is known to be done with it.
  struct State {
    std::atomic<bool> bDead{false};
    char szReason[160] = {};
    JackProcessCallback pfnProcess = nullptr;
    JackXRunCallback pfnXrun = nullptr;
    std::atomic<void*> pvOwner{nullptr};
    std::atomic<bool> bInProcess{false}, bInXrun{false};
  };
  JackClient(jack_client_t* pclient, State* pstate);
  static void OnShutdown(jack_status_t, const char* pszReason, void* pvState);
  static int OnProcess(jack_nframes_t nFrames, void* pvState);
  static int OnXrun(void* pvState);

  jack_client_t* pclient_;
  State* pstate_;
  std::string sName_;
};
