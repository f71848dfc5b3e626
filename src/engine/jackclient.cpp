// Opening and closing JACK clients safely around a server that may go away at any moment.
#include "engine/jackclient.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "foundation/akstatus.h"

std::unique_ptr<JackClient> JackClient::Open(const char* pszName, std::string* psError) {
  jack_status_t status = static_cast<jack_status_t>(0);
  jack_client_t* pclient = jack_client_open(pszName, JackNoStartServer, &status);
  if (!pclient) {
    if (psError) {
      const char* pszServer = getenv("JACK_DEFAULT_SERVER");
      *psError = (status & JackServerFailed) || (status & JackServerError)
                     ? std::string("no JACK server is running") +
                           (pszServer && *pszServer ? std::string(" (server \"") + pszServer + "\")" : "")
                     : "JACK refused a client named " + std::string(pszName) + " (status " +
                           std::to_string(static_cast<int>(status)) + ")";
    }
    return nullptr;
  }
  auto* pstate = new State;
  // Registered before the client is activated, so no shutdown can slip by unnoticed.
  jack_on_info_shutdown(pclient, &JackClient::OnShutdown, pstate);
  return std::unique_ptr<JackClient>(new JackClient(pclient, pstate));
}

JackClient::JackClient(jack_client_t* pclient, State* pstate) : pclient_(pclient), pstate_(pstate) {
  const char* psz = jack_get_client_name(pclient);
  sName_ = psz ? psz : "";
}

void JackClient::OnShutdown(jack_status_t, const char* pszReason, void* pvState) {
  // libjack's thread, possibly while the client is in use elsewhere: write flags only.
  auto* pstate = static_cast<State*>(pvState);
  if (pszReason) snprintf(pstate->szReason, sizeof pstate->szReason, "%s", pszReason);
  pstate->bDead.store(true, std::memory_order_release);
}

void JackClient::SetCallbacks(JackProcessCallback pfnProcess, JackXRunCallback pfnXrun, void* pvOwner) {
  pstate_->pfnProcess = pfnProcess;
  pstate_->pfnXrun = pfnXrun;
  pstate_->pvOwner.store(pvOwner);
  if (pfnProcess) jack_set_process_callback(pclient_, &JackClient::OnProcess, pstate_);
  if (pfnXrun) jack_set_xrun_callback(pclient_, &JackClient::OnXrun, pstate_);
}

// A routine marks itself inside before it looks for the owner, and Detach clears the owner
// before it looks for routines inside (both sequentially consistent): either the routine sees
// no owner, or Detach sees it inside and waits.
int JackClient::OnProcess(jack_nframes_t nFrames, void* pvState) {
  auto* pstate = static_cast<State*>(pvState);
  pstate->bInProcess.store(true);
  int r = 0;
  if (void* pv = pstate->pvOwner.load()) r = pstate->pfnProcess(nFrames, pv);
  pstate->bInProcess.store(false);
  return r;
}

int JackClient::OnXrun(void* pvState) {
  auto* pstate = static_cast<State*>(pvState);
  pstate->bInXrun.store(true);
  if (void* pv = pstate->pvOwner.load()) pstate->pfnXrun(pv);
  pstate->bInXrun.store(false);
  return 0;
}

void JackClient::Detach() {
  pstate_->pvOwner.store(nullptr);
  while (pstate_->bInProcess.load() || pstate_->bInXrun.load()) std::this_thread::yield();
}

std::string JackClient::Reason() const { return Dead() ? pstate_->szReason : ""; }

JackClient::~JackClient() {
  Detach();
  if (Dead()) {
    // Nothing is safe to call on a client whose server has gone: its handle and the few
    // hundred bytes behind it are left for the process's end.
    AKS(AKSStatus, AK_HERE, "JACK client %s not closed: its server has gone", sName_.c_str());
    return;
  }
  // The server may still go away while we close, and libjack then waits for an answer that
  // never comes: the close runs on a thread of its own, which we stop waiting for after
  // kCloseMs. Its state goes with whichever side finishes last.
  struct Closing {
    std::mutex mutex;
    std::condition_variable cv;
    bool bDone = false;
  };
  auto pclosing = std::make_shared<Closing>();
  jack_client_t* pclient = pclient_;
  State* pstate = pstate_;
  std::thread thread([pclient, pstate, pclosing] {
    jack_client_close(pclient);
    delete pstate;  // libjack calls back no more once the close has returned
    std::lock_guard<std::mutex> lock(pclosing->mutex);
    pclosing->bDone = true;
    pclosing->cv.notify_all();
  });
  std::unique_lock<std::mutex> lock(pclosing->mutex);
  if (pclosing->cv.wait_for(lock, std::chrono::milliseconds(kCloseMs), [&] { return pclosing->bDone; })) {
    lock.unlock();
    thread.join();
  } else {
    AKS(AKSWarn, AK_HERE, "JACK client %s did not close within %d ms (the server is going away?); left behind",
        sName_.c_str(), kCloseMs);
    thread.detach();
  }
}
