// The patch browser ("PatchBrowser"): one tab per patch collection, a list of the collection's
// patches, and a click on a patch installs it on MIDI channel 1.
#pragma once

#include <memory>
#include <string>

#include "ide/kswinqt.h"

class QObject;
class QTabBar;
class QTreeWidget;

class QuickBrowser : public KSWinQt {
 public:
  QuickBrowser(KSWinType* ptype, KSWinMemento& mem) : KSWinQt(ptype, mem) {}
  ~QuickBrowser() override;

 protected:
  void BuildControls(QMainWindow* pframe) override;

 private:
  // Lists the collection of a tab; a folder that cannot be read leaves the list as it was.
  void Fill(int iTab);
  void Load(const std::string& sName);
  // Where the tabs and rows are in the window, for whoever reads the log (the end-to-end test).
  void TraceGeometry();

  std::unique_ptr<QObject> pcontext_;  // what the deferred first filling runs in
  QTabBar* ptabs_ = nullptr;
  QTreeWidget* plist_ = nullptr;
  std::string sFolder_;  // the folder the rows came from
};
