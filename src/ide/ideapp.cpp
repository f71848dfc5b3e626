// Start-up of the desktop application, the single-instance hand-over, patch installation.
#include "ide/ideapp.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/regress.h"
#include "formula/errorlist.h"
#include "foundation/akpaths.h"
#include "foundation/akstatus.h"
#include "ide/filetypes.h"
#include "ide/handover.h"
#include "ide/idestart.h"
#include "ide/kswinfactory.h"
#include "ide/windowapis.h"

CVantrelExplorerApp* CVantrelExplorerApp::pappTheOne_ = nullptr;

namespace {

constexpr int kHandOverWaitMs = 10000;  // how long a second start waits for the first to answer
constexpr size_t kMaxPath = 512;        // the longest executable path the start accepts

// What LoadPatch needs of the patch editor, through whatever window of that type is open.
class IdeEditorHooks : public EditorHooks {
 public:
  bool Exists() override { return FindEditor(KSWinFactory::Get()) != nullptr; }
  void Create() override { KSWinFactory::Get().OpenWindow(kTypeEditor); }
  bool SaveQuery() override {
    PatchEditorApi* peditor = FindEditor(KSWinFactory::Get());
    return !peditor || peditor->QuerySave();
  }
  void ClearErrorMarks() override {
    if (PatchEditorApi* peditor = FindEditor(KSWinFactory::Get())) peditor->ClearErrorMarks();
  }
  void Show(int iChannel, const char* pszPath, const char* pszText) override {
    if (PatchEditorApi* peditor = FindEditor(KSWinFactory::Get())) peditor->ShowPatch(iChannel, pszPath, pszText);
  }
  void SetCompileErrors(int iChannel) override {
    if (PatchEditorApi* peditor = FindEditor(KSWinFactory::Get())) peditor->SetCompileErrors(iChannel);
  }
};

// What LoadPatch tells the engine and the oscilloscopes.
class IdeEngineHooks : public EngineHooks {
 public:
  explicit IdeEngineHooks(AppCore& core) : core_(core) {}
  void ResetAutoReduce() override { core_.Engine()->ResetAutoReduce(); }
  void ResetKeepUp() override { core_.Engine()->ResetKeepUp(); }
  void ResetOscilloscope() override {
    if (KSWinType* ptype = KSWinFactory::Get().FindType(kTypeOscilloscope))
      for (KSWin* pwin : ptype->apwin)
        if (auto* pscope = dynamic_cast<OscilloscopeApi*>(pwin)) pscope->ResetDisplay();
  }

 private:
  AppCore& core_;
};

}  // namespace

void PrintIdeUsage(FILE* pfile) {
  fprintf(pfile,
          "usage: vantrel-ide [--install DIR] [PATCH.vantrel | PACKAGE.vanpack]\n"
          "The desktop application: plays the patch (or the installation's default patch) from a MIDI\n"
          "input; a package opens in the patch editor. When the program already runs for this user and\n"
          "installation, the file is handed to it and this start ends.\n"
          "  --install DIR  installation folder (default: two levels above the executable)\n");
}

CVantrelExplorerApp::CVantrelExplorerApp() { pappTheOne_ = this; }

CVantrelExplorerApp::~CVantrelExplorerApp() {
  // Windows first (the main window's MIDI input uses the port and posts to the engine).
  KSWinFactory& factory = KSWinFactory::Get();
  while (!factory.Windows().empty()) factory.Windows().back()->Close();
  pport_.reset();
  pcore_.reset();
  pappTheOne_ = nullptr;
}

int CVantrelExplorerApp::Start(int argc, char** argv, int* piExit) {
  *piExit = 2;
  std::string sArgument;
  for (int i = 1; i < argc; ++i) {
    std::string s = argv[i];
    if (s == "--install" && i + 1 < argc) {
      sInstallDir_ = argv[++i];
    } else if (s.rfind("--install=", 0) == 0) {
      sInstallDir_ = s.substr(10);
    } else if (s.size() > 1 && s[0] == '-') {
      fprintf(stderr, "vantrel-ide: unknown option %s\n", s.c_str());
      PrintIdeUsage(stderr);
      return -1;
    } else if (sArgument.empty()) {
      sArgument = s;
    } else {
      fprintf(stderr, "vantrel-ide: one file at most\n");
      return -1;
    }
  }

  // 1. The installation: two levels above the executable.
  if (sInstallDir_.empty()) {
    char szExe[kMaxPath];
    ssize_t n = readlink("/proc/self/exe", szExe, sizeof szExe);
    if (n < 0 || static_cast<size_t>(n) >= sizeof szExe) {
      szExe[n < 0 ? 0 : sizeof szExe - 1] = 0;
      AKS(AKSError, AK_HERE, "cannot find full path; only found %s", szExe);
      return -1;
    }
    szExe[n] = 0;
    sInstallDir_ = InstallDirFromExecutable(szExe);
    if (sInstallDir_.empty()) return -1;
  }
  // 2, 3, 6. The shared tables (filter factory, envelope stages, fast math); the engine lock
  // comes with the core below.
  InitSharedTables();
  // 4. The status log, its files named after the folder it creates: in the installation's log
  // folder, or the user's when the installation cannot be written.
  AKPathsInit(sInstallDir_);
  std::string sLogDir = AKMakeWriteDir(AKPlaceLog);
  std::string sLogBase = sLogDir + "/VantrelIDE";
  bool bLogWritable = !sLogDir.empty() && access(sLogDir.c_str(), W_OK) == 0;
  if (bLogWritable) mkdir(sLogBase.c_str(), 0777);
  if (getenv("KSStatus")) AKSInitialize(bLogWritable ? sLogBase.c_str() : "");
  else AKSInitializeSpec(bLogWritable ? sLogBase.c_str() : "", "S=L;R=L;W=LV;E=LAV;F=LEV");
  EnsureUserName();
  // 5. The file types of the desktop.
  RegisterFileTypes(UserDataHome(), sInstallDir_);
  // 7, 8. The command line, handed to the running instance if there is one.
  std::string sCommandLine = HandOverCommandLine(sArgument);
  if (HandOverToRunningInstance(sCommandLine)) {
    *piExit = 0;
    return -1;
  }
  // 10. The settings key.
  QCoreApplication::setOrganizationName("Kestrelon");
  QCoreApplication::setApplicationName("VantrelExplorer");

  // 15, 16. The engine and its channels, before the windows: the main window's MIDI input
  // posts to the engine from the moment it opens its device.
  pcore_ = std::make_unique<AppCore>(sInstallDir_);
  peditorHooks_ = std::make_unique<IdeEditorHooks>();
  pengineHooks_ = std::make_unique<IdeEngineHooks>(*pcore_);
  pcore_->peditor = peditorHooks_.get();
  pcore_->pengineHooks = pengineHooks_.get();
  pport_ = MakeMidiInPort(MidiSystem::Default, &sMidiError_);

  // 12 to 14. The windows of the workspace, or the main window alone.
  KSWinFactory& factory = KSWinFactory::Get();
  factory.SetSystem(&system_);
  factory.Init("test", AKInstalledDir(AKPlaceTemplate).c_str(), "VantrelExplorer", &pwinMain_);
  factory.SetUserTemplateDir(AKWriteDir(AKPlaceTemplate));
  // Without a folder for the user's workspace (a read-only installation, no HOME) there is none.
  std::string sWorkspaceDir = AKWriteDir(AKPlaceWorkspace);
  std::string sUserWorkspace = sWorkspaceDir.empty() ? "" : sWorkspaceDir + "/$USERNAME.xml";
  std::string sDefaultWorkspace = AKReadPath(AKPlaceWorkspace, "default.xml");
  if (!factory.LoadUserOrDefaultWorkspace(sUserWorkspace.c_str(), sDefaultWorkspace.c_str()))
    factory.OpenWindow(kTypeMain);
  // A workspace without the main window (edited by hand) still gets one: without it there is
  // no MIDI input and no way to exit.
  if (!factory.FindWindowOfType(kTypeMain)) factory.OpenWindow(kTypeMain);
  if (!factory.FirstWindow()) {
    AKS(AKSFatal, AK_HERE, "no windows created");
    return -1;
  }

  // 17 to 19. The first patch, the priority, the sound.
  std::string sPatch = sCommandLine.empty() ? sInstallDir_ + "/patch/Default.vantrel" : sCommandLine;
  if (ClassifyHandOver(kHandOverCommandLine, sPatch) == HandOverAction::OpenPackage) {
    OpenPackageInEditor(sPatch.c_str());
    sPatch = sInstallDir_ + "/patch/Default.vantrel";
  }
  LoadPatch(sPatch.c_str(), 0, true, -1, nullptr);
  pcore_->StartEngine();
  *piExit = 0;
  return 0;
}

bool CVantrelExplorerApp::HandOverToRunningInstance(const std::string& sCommandLine) {
  QString qName = QString::fromStdString(InstanceChannelName(sInstallDir_));
  // Two starts at once must not both become the running one: the check and the listening
  // happen under a lock file.
  QLockFile lock(QDir::tempPath() + "/" + qName + ".lock");
  lock.lock();
  QLocalSocket socket;
  socket.connectToServer(qName);
  if (socket.waitForConnected(kHandOverWaitMs)) {
    AKS(AKSStatus, AK_HERE,
        "found another VantrelIDE running, so asking it to execute the command line \"%s\" instead of doing it myself",
        sCommandLine.c_str());
    std::vector<unsigned char> ab = EncodeHandOver(kHandOverCommandLine, sCommandLine);
    socket.write(reinterpret_cast<const char*>(ab.data()), static_cast<qint64>(ab.size()));
    socket.waitForBytesWritten(kHandOverWaitMs);
    // The first instance answers once it has the whole record.
    if (!socket.waitForReadyRead(kHandOverWaitMs))
      AKS(AKSWarn, AK_HERE, "the running VantrelIDE did not answer the hand-over");
    return true;
  }
  pserver_ = new QLocalServer(this);
  pserver_->setSocketOptions(QLocalServer::UserAccessOption);
  // A channel left behind by a program that crashed is removed first.
  if (!pserver_->listen(qName)) {
    QLocalServer::removeServer(qName);
    if (!pserver_->listen(qName))
      AKS(AKSWarn, AK_HERE, "cannot listen for other starts of the program: %s",
          pserver_->errorString().toUtf8().constData());
  }
  QObject::connect(pserver_, &QLocalServer::newConnection, this, [this] { AcceptHandOver(); });
  return false;
}

void CVantrelExplorerApp::AcceptHandOver() {
  while (QLocalSocket* psocket = pserver_->nextPendingConnection()) {
    auto pab = std::make_shared<std::vector<unsigned char>>();
    QObject::connect(psocket, &QLocalSocket::disconnected, psocket, &QObject::deleteLater);
    QObject::connect(psocket, &QLocalSocket::readyRead, this, [this, psocket, pab] {
      QByteArray q = psocket->readAll();
      pab->insert(pab->end(), q.begin(), q.end());
      uint32_t uType = 0;
      std::string sText;
      HandOverParse parse = DecodeHandOver(*pab, &uType, &sText);
      if (parse == HandOverParse::Incomplete) return;
      if (parse == HandOverParse::Bad) {
        AKS(AKSWarn, AK_HERE, "malformed hand-over record of %zu bytes", pab->size());
      } else {
        psocket->write("\1", 1);
        psocket->flush();
        // Handled from the event loop: loading a patch may take a while, and the sender waits
        // only for the answer above.
        QTimer::singleShot(0, this, [this, uType, sText] { HandleForwardedCommandLine(uType, sText); });
      }
      psocket->disconnectFromServer();
    });
  }
}

void CVantrelExplorerApp::HandleForwardedCommandLine(uint32_t uType, const std::string& sText) {
  if (KSWin* pwinMain = KSWinFactory::Get().FindWindowOfType(kTypeMain)) pwinMain->PlatformRaise();
  switch (ClassifyHandOver(uType, sText)) {
    case HandOverAction::UnexpectedType: AKS(AKSWarn, AK_HERE, "got unexpected COPYDATA type %d", uType); break;
    case HandOverAction::LoadPatch: LoadPatch(sText.c_str(), 0, true, -1, nullptr); break;
    case HandOverAction::OpenPackage: OpenPackageInEditor(sText.c_str()); break;
    case HandOverAction::Ignore: break;
  }
}

void CVantrelExplorerApp::OpenPackageInEditor(const char* pszPath) {
  std::string sPath = pszPath;
  if (!sPath.empty() && sPath.front() == '"') {
    sPath.erase(0, 1);
    if (!sPath.empty() && sPath.back() == '"') sPath.pop_back();
  }
  KSWinFactory& factory = KSWinFactory::Get();
  if (!FindEditor(factory)) factory.OpenWindow(kTypeEditor);
  if (PatchEditorApi* peditor = FindEditor(factory)) peditor->OpenPackage(sPath.c_str());
}

int CVantrelExplorerApp::LoadPatch(const char* pszPath, int iChannel, bool bShow, double dSeconds, double* pdRate) {
  int iResult = pcore_->LoadPatch(pszPath, iChannel, bShow, dSeconds, pdRate);
  AKS(AKSStatus, AK_HERE, "LoadPatch( \"%s\", %d ) = %d", pszPath, iChannel, iResult);
  return iResult;
}

double CVantrelExplorerApp::BenchmarkPatch(Patch* ppatch, double dSeconds) {
  return pcore_->BenchmarkPatch(ppatch, dSeconds);
}

void CVantrelExplorerApp::RunRegression() {
  // Every installed patch in turn, each shown in the editor while it plays; the windows wait.
  RegressOptions opt;
  RegressSummary sum;
  int iResult = RunRegressions(*pcore_, opt, &sum);
  char sz[512];
  if (iResult != 0)
    snprintf(sz, sizeof sz, "The regression test could not run: %s", sum.sError.c_str());
  else
    snprintf(sz, sizeof sz,
             "%d patches tested: %d OK, %d differ, %d without exemplar, %d with compile errors, %d other errors.\n"
             "Average speed against the benchmark: %.1f%% over %d patches.\nResults in %s/results.txt",
             sum.nTested, sum.nOK, sum.nDiffers, sum.nNoExemplar, sum.nCompileErrors, sum.nOtherErrors, sum.dAverage,
             sum.nBenchmarked, AKWriteDir(AKPlaceRegressions).c_str());
  QMessageBox::information(nullptr, "VantrelExplorer", QString::fromUtf8(sz));
}
