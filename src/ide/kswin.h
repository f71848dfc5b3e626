// The base of every IDE window, the window types, and what the framework needs of the window
// system. Plain C++: the Qt layer (kswinqt.h) supplies the platform steps, tests supply fakes.
//
// A new window type is a KSWin subclass whose constructor reads its own keys from the memento,
// whose SaveState writes them after the base's, and one static KSWinTypeTmpl<Class> object
// naming it; the factory then opens it from menus, templates and workspaces.
#pragma once

#include <string>
#include <vector>

#include "ide/kswinmemento.h"

constexpr int KSWinMissing = -6666;  // a position or size the saved state did not give
constexpr int KSWinFallbackSize = 200;  // the size of a window whose saved size is missing

struct KSRect {
  int iX = 0, iY = 0, iWidth = 0, iHeight = 0;
  bool operator==(const KSRect&) const = default;
};

// Where a saved window goes: a missing or empty size becomes 200 x 200, the size is cut to the
// virtual screen (all monitors), then the position moved so that the window lies inside it.
KSRect KSPlaceWindow(const KSRect& rectSaved, const KSRect& rectScreen);

// A control's rectangle after a resize by (dWidth, dHeight): horizontal mode 0 leaves it, 1 moves
// it right, 2 widens it; vertical mode 0 leaves it, 1 moves it down, 2 makes it taller.
KSRect KSAnchorRect(const KSRect& rect, int iHorizontal, int iVertical, int dWidth, int dHeight);

// The window system as the framework sees it.
class KSWinSystem {
 public:
  virtual ~KSWinSystem() = default;
  virtual KSRect VirtualScreen() = 0;
  virtual void WarningBox(const char* pszTitle, const char* pszText) = 0;
};

class KSWin;
class KSWinFactory;
class KSWinType;
using KSWinCreate_T = KSWin* (*)(KSWinType* ptype, KSWinMemento& mem);

// One window type, registered once (by a static object) with the factory.
class KSWinType {
 public:
  // Registers with pfactory (the process's factory when null).
  KSWinType(const char* pszName, bool bSingleInstance, KSWinCreate_T pfnCreate, KSWinFactory* pfactory = nullptr);
  virtual ~KSWinType() = default;
  KSWinType(const KSWinType&) = delete;
  KSWinType& operator=(const KSWinType&) = delete;

  std::string sName;
  std::string sTitle;  // a copy of the name
  // The class library's frame options (system menu, resizable border, minimise box); all set.
  bool bOptSysMenu = true, bOptResizable = true, bOptMinimize = true;
  bool bSingleInstance;
  KSWinCreate_T pfnCreate;
  std::vector<KSWin*> apwin;  // the open windows of the type
};

template <class T>
class KSWinTypeTmpl : public KSWinType {
 public:
  KSWinTypeTmpl(const char* pszName, bool bSingleInstance, KSWinFactory* pfactory = nullptr)
      : KSWinType(pszName, bSingleInstance, &Make, pfactory) {}

 private:
  static KSWin* Make(KSWinType* ptype, KSWinMemento& mem) { return new T(ptype, mem); }
};

class KSWin {
 public:
  // Reads "Title" (default the type's title), "X", "Y", "Width" and "Height" (default missing).
  KSWin(KSWinType* ptype, KSWinMemento& mem);
  virtual ~KSWin() = default;
  KSWin(const KSWin&) = delete;
  KSWin& operator=(const KSWin&) = delete;

  KSWinType* Type() const { return ptype_; }
  const std::string& Title() const { return sTitle_; }
  // What the window system shows as the window's text.
  const std::string& WindowText() const { return sWindowText_; }
  KSRect SavedRect() const { return rectSaved_; }

  // "WindowType", "Title", "RefreshMS" (0), then the window rectangle "X", "Y", "Width", "Height".
  virtual void SaveState(KSWinMemento& mem);
  // The title becomes the formatted text (at most 1023 characters), the window text
  // "USER: TITLE" with the factory's user name.
  void SetTitle(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));

  // The creation step: on the screen, placed inside the virtual screen, shown, titled with the
  // type's title.
  void Create(KSWinFactory& factory, KSWin* pwinOwner);
  // The window system reports a new client size: the changes since the last one are recorded and
  // the controls laid out again.
  void Resized(int iWidth, int iHeight);
  int WidthChange() const { return dWidth_; }
  int HeightChange() const { return dHeight_; }
  // Removes the window from the factory and its type, then destroys it (the object is deleted).
  virtual void Close();

  // The platform steps; the base keeps only what it was told (windowless tests use that).
  virtual void PlatformCreate(KSWin* pwinOwner) { (void)pwinOwner; }
  virtual void PlatformPlace(const KSRect& rect) { rectNow_ = rect; }
  virtual void PlatformShow() {}
  virtual void PlatformSetText(const char* psz) { sWindowText_ = psz; }
  virtual void PlatformRaise() {}
  virtual KSRect PlatformRect() { return rectNow_; }
  virtual void PlatformRedraw() {}
  virtual void PlatformDestroy() {}

 protected:
  // Moves and stretches the controls by the recorded changes (see KSAnchorRect).
  virtual void Layout() {}
  std::string sWindowText_;
  KSWinFactory* pfactory_ = nullptr;

 private:
  KSWinType* ptype_;
  std::string sTitle_;
  KSRect rectSaved_;
  KSRect rectNow_;
  int iClientWidth_ = -1, iClientHeight_ = -1;  // -1 until the first resize
  int dWidth_ = 0, dHeight_ = 0;
};
