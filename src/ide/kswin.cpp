// The base window: saved state, title, placement inside the screens, resize bookkeeping, types.
#include "ide/kswin.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "foundation/akstatus.h"
#include "ide/kswinfactory.h"

KSRect KSPlaceWindow(const KSRect& rectSaved, const KSRect& rectScreen) {
  KSRect rect = rectSaved;
  if (rect.iWidth == KSWinMissing || rect.iHeight == KSWinMissing || rect.iWidth < 1 || rect.iHeight < 1)
    rect.iWidth = rect.iHeight = KSWinFallbackSize;
  rect.iWidth = std::min(rect.iWidth, std::max(rectScreen.iWidth, 1));
  rect.iHeight = std::min(rect.iHeight, std::max(rectScreen.iHeight, 1));
  // A missing position is far off to the left or top, so it lands on the screens' edge.
  rect.iX = std::clamp(rect.iX, rectScreen.iX, rectScreen.iX + std::max(rectScreen.iWidth - rect.iWidth, 0));
  rect.iY = std::clamp(rect.iY, rectScreen.iY, rectScreen.iY + std::max(rectScreen.iHeight - rect.iHeight, 0));
  return rect;
}

KSRect KSAnchorRect(const KSRect& rect, int iHorizontal, int iVertical, int dWidth, int dHeight) {
  KSRect r = rect;
  if (iHorizontal == 1) r.iX += dWidth;
  else if (iHorizontal == 2) r.iWidth += dWidth;
  if (iVertical == 1) r.iY += dHeight;
  else if (iVertical == 2) r.iHeight += dHeight;
  return r;
}

KSWinType::KSWinType(const char* pszName, bool bSingle, KSWinCreate_T pfn, KSWinFactory* pfactory)
    : sName(pszName), sTitle(pszName), bSingleInstance(bSingle), pfnCreate(pfn) {
  (pfactory ? *pfactory : KSWinFactory::Get()).RegisterType(this);
}

KSWin::KSWin(KSWinType* ptype, KSWinMemento& mem) : ptype_(ptype) {
  sTitle_ = mem.GetString("Title", ptype->sTitle.c_str());
  rectSaved_ = {mem.GetInt("X", KSWinMissing), mem.GetInt("Y", KSWinMissing), mem.GetInt("Width", KSWinMissing),
                mem.GetInt("Height", KSWinMissing)};
}

void KSWin::SaveState(KSWinMemento& mem) {
  mem.SetString("WindowType", ptype_->sName.c_str());
  mem.SetString("Title", sTitle_.c_str());
  mem.SetInt("RefreshMS", 0);
  KSRect rect = PlatformRect();
  mem.SetInt("X", rect.iX);
  mem.SetInt("Y", rect.iY);
  mem.SetInt("Width", rect.iWidth);
  mem.SetInt("Height", rect.iHeight);
}

void KSWin::SetTitle(const char* pszFormat, ...) {
  char sz[1024];
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(sz, sizeof sz, pszFormat, args);
  va_end(args);
  sTitle_ = sz;
  std::string sText = (pfactory_ ? pfactory_->UserName() : std::string()) + ": " + sTitle_;
  PlatformSetText(sText.c_str());
}

void KSWin::Create(KSWinFactory& factory, KSWin* pwinOwner) {
  pfactory_ = &factory;
  PlatformCreate(pwinOwner);
  KSRect rectScreen = factory.System() ? factory.System()->VirtualScreen() : KSRect{0, 0, 1 << 20, 1 << 20};
  KSRect rect = KSPlaceWindow(rectSaved_, rectScreen);
  PlatformShow();
  PlatformPlace(rect);
  PlatformSetText(ptype_->sTitle.c_str());
}

void KSWin::Resized(int iWidth, int iHeight) {
  bool bPrevious = iClientWidth_ >= 0;
  if (bPrevious) {
    dWidth_ = iWidth - iClientWidth_;
    dHeight_ = iHeight - iClientHeight_;
  }
  iClientWidth_ = iWidth;
  iClientHeight_ = iHeight;
  if (bPrevious) {
    Layout();
    PlatformRedraw();
  }
}

void KSWin::Close() {
  if (pfactory_) pfactory_->RemoveWindow(this);
  PlatformDestroy();
  delete this;
}
