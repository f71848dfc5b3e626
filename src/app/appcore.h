// The application core shared by the command line and the desktop application: the engine, the
// patch table and its lock, and LoadPatch, the one way a patch is put into service.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/interpreter.h"
#include "engine/mixer.h"
#include "enginecore/settings.h"
#include "foundation/akarray.h"

class Patch;

// What LoadPatch needs of a patch editor; the command line has none.
class EditorHooks {
 public:
  virtual ~EditorHooks() = default;
  virtual bool Exists() = 0;
  // Creates the editor window if there is none (a failed compilation shows its errors there).
  virtual void Create() = 0;
  // False when the user refuses to give up unsaved changes.
  virtual bool SaveQuery() = 0;
  virtual void ClearErrorMarks() = 0;
  virtual void Show(int iChannel, const char* pszPath, const char* pszText) = 0;
  virtual void SetCompileErrors(int iChannel) = 0;
};

// What LoadPatch tells the running engine and the oscilloscope; absent without them.
class EngineHooks {
 public:
  virtual ~EngineHooks() = default;
  virtual void ResetAutoReduce() = 0;
  virtual void ResetKeepUp() = 0;
  virtual void ResetOscilloscope() = 0;
};

class AppCore {
 public:
  // Brings up the engine side: shared tables, the engine from config/Interpreter.vantrel (or
  // defaults when it is missing), the sixteen channels. sSettingsOverride adds settings lines
  // (e.g. "FreqEval = 48000") after the file's. The engine is constructed, not started.
  explicit AppCore(const std::string& sInstallDir, const std::vector<std::string>& asSettingsOverride = {});
  // Shuts the engine down if it runs, then destroys the patches, the channels and the engine.
  ~AppCore();
  AppCore(const AppCore&) = delete;
  AppCore& operator=(const AppCore&) = delete;

  // Reads and compiles a patch file as installing it would (configuration warnings become
  // patch errors at their lines); the error list holds the diagnostics. Answers the patch (the
  // caller owns it) or null; *psText receives the file's text when asked for.
  Patch* CompilePatchFile(const char* pszPath, int iChannel, std::string* psText = nullptr);
  // Compiles and installs into the channel's slot; benchmarks for dSeconds (-1: 0.1 s; 0: none).
  int LoadPatch(const char* pszPath, int iChannel, bool bShow, double dSeconds, double* pdRate);
  // Rendering speed of a patch in frames per second, one note held.
  double BenchmarkPatch(Patch* ppatch, double dSeconds);

  // The last steps of bring-up: the process's priority raised, the engine's audio thread started.
  void StartEngine();
  // The first steps of the exit: the audio thread stopped and the device closed, then the engine
  // lock taken and kept (rendering never resumes). Patches and engine go with the destructor.
  void ShutdownEngine();

  // The voices sounding in every installed patch (each patch's voice lists read under its mutex).
  int SoundingVoices();

  Interpreter* Engine() { return pengine_.get(); }
  std::mutex& EngineLock() { return table_.mutexEngine; }
  AKArray<PatchSlot>& Slots() { return table_.aslot; }
  PatchTable& Table() { return table_; }
  const std::string& InstallDir() const { return sInstallDir_; }

  EditorHooks* peditor = nullptr;
  EngineHooks* pengineHooks = &hooksDefault_;
  // Where user messages ("performance: ...", file failures) go; by default the error list.
  void (*pfnUserMessage)(const char* pszMessage) = nullptr;

 private:
  void UserMessage(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
  // CompilePatchFile of a path without quotes.
  Patch* CompileFile(const std::string& sPath, int iChannel, std::string* psText);
  // LoadPatch tells the engine through these unless a window installs its own hooks.
  class DefaultEngineHooks : public EngineHooks {
   public:
    explicit DefaultEngineHooks(AppCore& core) : core_(core) {}
    void ResetAutoReduce() override { core_.pengine_->ResetAutoReduce(); }
    void ResetKeepUp() override { core_.pengine_->ResetKeepUp(); }
    void ResetOscilloscope() override {}

   private:
    AppCore& core_;
  };
  std::string sInstallDir_;
  std::unique_ptr<Interpreter> pengine_;
  PatchTable table_;
  DefaultEngineHooks hooksDefault_{*this};
  bool bLockKept_ = false;  // the engine lock is held for good (after ShutdownEngine)
};

// Fills the tables every module shares (sine and cents tables, filter keywords, envelope stage
// types); safe to call more than once.
void InitSharedTables();
