// The application object of the desktop program: start-up in order, the single-instance
// hand-over, and the patch installation the windows share.
#pragma once

#include <QObject>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "engine/midiinput.h"
#include "ide/kswinqt.h"

class QLocalServer;
class Patch;
class KSWin;

// The command's usage text.
void PrintIdeUsage(FILE* pfile);

class CVantrelExplorerApp : public QObject {
 public:
  // The one application object; null before it is made.
  static CVantrelExplorerApp* Get() { return pappTheOne_; }
  CVantrelExplorerApp();
  ~CVantrelExplorerApp() override;

  // Start-up. Answers -1 when the program is to end now with *piExit (a second instance handed
  // its command line over, or start-up failed), 0 when the windows run.
  int Start(int argc, char** argv, int* piExit);

  virtual void HandleForwardedCommandLine(uint32_t uType, const std::string& sText);
  virtual void OpenPackageInEditor(const char* pszPath);
  virtual int LoadPatch(const char* pszPath, int iChannel, bool bShow, double dSeconds, double* pdRate);
  virtual double BenchmarkPatch(Patch* ppatch, double dSeconds);
  // The regression runner (a developer tool), when this build has one.
  void RunRegression();

  AppCore* Core() { return pcore_.get(); }
  MidiInPort* MidiPort() { return pport_.get(); }
  const std::string& MidiError() const { return sMidiError_; }
  const std::string& InstallDir() const { return sInstallDir_; }
  KSWin* MainWindow() { return pwinMain_; }

 private:
  // Becomes the running instance, or hands sCommandLine to the one running (answers true then).
  bool HandOverToRunningInstance(const std::string& sCommandLine);
  void AcceptHandOver();

  static CVantrelExplorerApp* pappTheOne_;
  std::string sInstallDir_;
  std::unique_ptr<AppCore> pcore_;
  std::unique_ptr<MidiInPort> pport_;
  std::string sMidiError_;
  KSQtSystem system_;
  QLocalServer* pserver_ = nullptr;
  KSWin* pwinMain_ = nullptr;
  std::unique_ptr<EditorHooks> peditorHooks_;
  std::unique_ptr<EngineHooks> pengineHooks_;
};
