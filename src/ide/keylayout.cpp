// Reading the performance keyboard's layout, centring its keys, and the keys held down.
#include "ide/keylayout.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "foundation/akstatus.h"

namespace {

// Layout numbers are C-style: decimal, "0x" hexadecimal or leading-"0" octal. Answers false when
// the text holds no number at all.
bool ReadCNumber(const char* psz, long* pl) {
  if (!psz) return false;
  char* pszEnd = nullptr;
  long l = strtol(psz, &pszEnd, 0);
  if (pszEnd == psz) return false;
  *pl = l;
  return true;
}

KSColor GroupColor(AKConfig_T* pconf, const char* pszName, const char* pszDefault) {
  return KSColorFromNumber(AKConfigGetDef(pconf, pszName, pszDefault));
}

}  // namespace

KSColor KSColorFromNumber(const char* psz) {
  long l = 0;
  ReadCNumber(psz, &l);
  unsigned long u = static_cast<unsigned long>(l) & 0xFFFFFF;
  return {static_cast<int>(u >> 16 & 0xFF), static_cast<int>(u >> 8 & 0xFF), static_cast<int>(u & 0xFF)};
}

int KSKeyCodeFromName(const char* pszName) {
  if (!pszName || !*pszName) return 0;
  if (!pszName[1]) return static_cast<unsigned char>(pszName[0]);
  long l = 0;
  if (!ReadCNumber(pszName, &l)) return 0;
  // Out-of-range numbers must stay out of range when narrowed.
  return static_cast<int>(std::clamp<long>(l, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

int KSKeysFromConfig(AKConfig_T* pconf, const char* pszPath, KSKeyEntry* akey) {
  int nFilled = 0;
  for (AKConfig_T* pconfGroup : pconf->apconfSub) {
    KSColor colorBackground = GroupColor(pconfGroup, "Background", "0x0FFFFF");
    KSColor colorText = GroupColor(pconfGroup, "Text", "0");
    KSColor colorBorder = GroupColor(pconfGroup, "Border", "0");
    int iChannel = AKConfigGetIntDef(pconfGroup, "Channel", 1);
    for (AKConfig_T* pconfKey : pconfGroup->apconfSub) {
      const char* pszKey = pconfKey->pszName ? pconfKey->pszName : "";
      int iCode = KSKeyCodeFromName(pszKey);
      if (iCode < 1 || iCode > kKSKeyCodeMax) {
        AKS(AKSWarn, AK_HERE,
            "cannot process %s entry [%s.%s]; expected either single character or number between 1 and %d inclusive",
            pszPath, pconfGroup->pszName ? pconfGroup->pszName : "", pszKey, kKSKeyCodeMax);
        continue;
      }
      // Events carry the low eight bits of the virtual key, so code 256 could never be played;
      // the table has no entry for it and nothing is written.
      if (iCode >= kKSKeyCount) {
        AKS(AKSWarn, AK_HERE, "cannot process %s entry [%s.%s]; key code %d has no key", pszPath,
            pconfGroup->pszName ? pconfGroup->pszName : "", pszKey, iCode);
        continue;
      }
      KSKeyEntry& key = akey[iCode];
      key = KSKeyEntry();
      key.sLabel = AKConfigGetDef(pconfKey, "Label", pszKey);
      key.sFunction = AKConfigGetDef(pconfKey, "Function", "");
      key.dX = AKConfigGetDoubleDef(pconfKey, "X", 0);
      key.dY = AKConfigGetDoubleDef(pconfKey, "Y", 0);
      key.dWidth = AKConfigGetDoubleDef(pconfKey, "Width", kKSKeyDefaultSize);
      key.dHeight = AKConfigGetDoubleDef(pconfKey, "Height", kKSKeyDefaultSize);
      key.colorBackground = colorBackground;
      key.colorText = colorText;
      key.colorBorder = colorBorder;
      key.iChannel = iChannel;
      key.iNote = AKConfigGetIntDef(pconfKey, "Note", -1);
      key.dVelocity = AKConfigGetDoubleDef(pconfKey, "Velocity", kKSKeyDefaultVelocity);
      key.dPolyPressure = AKConfigGetDoubleDef(pconfKey, "PolyPrs", kKSKeyDefaultVelocity);
      key.dRelVelocity = AKConfigGetDoubleDef(pconfKey, "RelVel", kKSKeyDefaultVelocity);
      key.bFilled = true;
      ++nFilled;
    }
  }
  return nFilled;
}

int KSReadKeyLayout(const char* pszPath, KSKeyEntry* akey) {
  AKConfig_T* pconf = AKConfigRead(pszPath, AKConfigText);
  if (!pconf) {
    // A missing layout leaves the keyboard empty; it is no reason to end the program and lose
    // what the other windows hold.
    AKS(AKSWarn, AK_HERE, "cannot read keyboard layouts \"%s\"", pszPath);
    return -1;
  }
  KSKeysFromConfig(pconf, pszPath, akey);
  AKConfigFree(pconf);
  return 0;
}

KSKeyOffset KSCentreKeys(const KSKeyEntry* akey, int nKey, double dClientWidth, double dClientHeight) {
  double dLeft = 0, dTop = 0, dRight = 0, dBottom = 0;
  bool bAny = false;
  for (int i = 0; i < nKey; ++i) {
    const KSKeyEntry& key = akey[i];
    if (key.dWidth == 0 || key.dHeight == 0) continue;
    double dKeyRight = key.dX + key.dWidth, dKeyBottom = key.dY + key.dHeight;
    if (!bAny) {
      dLeft = key.dX, dTop = key.dY, dRight = dKeyRight, dBottom = dKeyBottom;
      bAny = true;
      continue;
    }
    dLeft = std::min(dLeft, key.dX);
    dTop = std::min(dTop, key.dY);
    dRight = std::max(dRight, dKeyRight);
    dBottom = std::max(dBottom, dKeyBottom);
  }
  if (!bAny) return {};
  return {(dClientWidth - (dRight - dLeft)) / 2 - dLeft, (dClientHeight - (dBottom - dTop)) / 2 - dTop};
}

namespace {
bool IsKey(int iKey) { return iKey >= 0 && iKey < kKSKeyCount; }
}  // namespace

std::vector<KSEvent> KSKeysDown::Press(int iKey, unsigned long ulTime) {
  if (!IsKey(iKey)) return {};
  if (abWaiting_[iKey]) {
    abWaiting_[iKey] = false;
    if (aulReleased_[iKey] == ulTime) return {};  // the two halves of one repeat
    return {{KSEventKeyUp, iKey, 0, 0}, {KSEventKeyDown, iKey, 0, 0}};
  }
  if (abDown_[iKey]) return {};
  abDown_[iKey] = true;
  return {{KSEventKeyDown, iKey, 0, 0}};
}

bool KSKeysDown::Release(int iKey, unsigned long ulTime) {
  if (!IsKey(iKey) || !abDown_[iKey] || abWaiting_[iKey]) return false;
  abWaiting_[iKey] = true;
  aulReleased_[iKey] = ulTime;
  return true;
}

std::vector<KSEvent> KSKeysDown::Settle() {
  std::vector<KSEvent> aevent;
  for (int i = 0; i < kKSKeyCount; ++i)
    if (abWaiting_[i]) {
      abWaiting_[i] = abDown_[i] = false;
      aevent.push_back({KSEventKeyUp, i, 0, 0});
    }
  return aevent;
}

std::vector<KSEvent> KSKeysDown::ReleaseAll() {
  abWaiting_ |= abDown_;
  return Settle();
}
