// The patch browser window.
#include "ide/quickbrowser.h"

#include <QHeaderView>
#include <QMainWindow>
#include <QTabBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <vector>

#include "foundation/akstatus.h"
#include "ide/browserlist.h"
#include "ide/ideapp.h"
#include "ide/kswinfactory.h"
#include "ide/windowapis.h"

namespace {
KSWinTypeTmpl<QuickBrowser> typeBrowser(kTypeBrowser, false);
}

QuickBrowser::~QuickBrowser() = default;

void QuickBrowser::BuildControls(QMainWindow* pframe) {
  auto* pcentral = new QWidget(pframe);
  auto* playout = new QVBoxLayout(pcentral);
  ptabs_ = new QTabBar(pcentral);
  for (const BrowserCollection& collection : kabrowserCollection) ptabs_->addTab(collection.pszTab);
  ptabs_->setExpanding(false);
  plist_ = new QTreeWidget(pcentral);
  plist_->setColumnCount(1);
  plist_->setHeaderLabels({"Patch"});
  plist_->setRootIsDecorated(false);
  plist_->setUniformRowHeights(true);
  plist_->setSelectionBehavior(QAbstractItemView::SelectRows);
  plist_->header()->setStretchLastSection(false);
  // The tabs and the list follow the window's size.
  playout->addWidget(ptabs_);
  playout->addWidget(plist_, 1);
  pframe->setCentralWidget(pcentral);

  QObject::connect(ptabs_, &QTabBar::currentChanged, pframe, [this](int iTab) { Fill(iTab); });
  QObject::connect(plist_, &QTreeWidget::itemClicked, pframe,
                   [this](QTreeWidgetItem* pitem, int) { Load(pitem->text(0).toStdString()); });
  // The first filling sets the window text, which the window's creation sets to the type's
  // title after this: it waits until the creation is over.
  pcontext_ = std::make_unique<QObject>();
  QTimer::singleShot(0, pcontext_.get(), [this] { Fill(ptabs_->currentIndex()); });
}

void QuickBrowser::Fill(int iTab) {
  if (iTab < 0 || iTab >= kBrowserCollections) return;
  PlatformSetText(("Patch Browser: " + std::string(kabrowserCollection[iTab].pszTab)).c_str());
  std::string sFolder = BrowserCollectionFolder(CVantrelExplorerApp::Get()->InstallDir(), iTab);
  std::vector<std::string> asName;
  int iError = 0;
  if (BrowserListFolder(sFolder, &asName, &iError) != 0) {
    std::string sText = BrowserCannotReadText(sFolder, iError);
    AKS(AKSTrace, AK_HERE, "patch browser: %s: %s", kBrowserCannotReadTitle, sText.c_str());
    if (KSWinSystem* psystem = KSWinFactory::Get().System()) psystem->WarningBox(kBrowserCannotReadTitle, sText.c_str());
    return;
  }
  sFolder_ = sFolder;
  plist_->clear();
  for (const std::string& sName : asName) plist_->addTopLevelItem(new QTreeWidgetItem({QString::fromStdString(sName)}));
  plist_->resizeColumnToContents(0);
  AKS(AKSTrace, AK_HERE, "patch browser: %s: %zu patches", kabrowserCollection[iTab].pszTab, asName.size());
  TraceGeometry();
}

void QuickBrowser::Load(const std::string& sName) {
  if (sFolder_.empty()) return;
  std::string sPath = BrowserPatchPath(sFolder_, sName);
  AKS(AKSTrace, AK_HERE, "patch browser: clicked %s", sName.c_str());
  CVantrelExplorerApp::Get()->LoadPatch(sPath.c_str(), 0, true, -1, nullptr);
}

void QuickBrowser::TraceGeometry() {
  QMainWindow* pframe = Frame();
  if (!pframe) return;
  if (QLayout* playout = pframe->centralWidget()->layout()) playout->activate();
  for (int i = 0; i < ptabs_->count(); ++i) {
    QPoint pt = ptabs_->mapTo(pframe, ptabs_->tabRect(i).center());
    AKS(AKSTrace, AK_HERE, "patch browser: tab %s at %d,%d", ptabs_->tabText(i).toUtf8().constData(), pt.x(), pt.y());
  }
  for (int i = 0; i < plist_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* pitem = plist_->topLevelItem(i);
    QPoint pt = plist_->viewport()->mapTo(pframe, plist_->visualItemRect(pitem).center());
    AKS(AKSTrace, AK_HERE, "patch browser: row %s at %d,%d", pitem->text(0).toUtf8().constData(), pt.x(), pt.y());
  }
}
