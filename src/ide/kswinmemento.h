// A window's saved state: a small section tree read from and written to workspace and template
// files, with typed access whose missing values fall back to defaults.
#pragma once

#include <cstdio>

struct AKConfig_T;

class KSWinMemento {
 public:
  // An empty tree owned by the memento.
  KSWinMemento();
  // A view of (bOwned false) or the owner of (true) an existing tree; null makes an empty one.
  KSWinMemento(AKConfig_T* pconf, bool bOwned);
  ~KSWinMemento();
  KSWinMemento(KSWinMemento&& other) noexcept;
  KSWinMemento& operator=(KSWinMemento&& other) noexcept;
  KSWinMemento(const KSWinMemento&) = delete;
  KSWinMemento& operator=(const KSWinMemento&) = delete;

  AKConfig_T* Config() const { return pconf_; }

  const char* GetString(const char* pszName, const char* pszDefault = "") const;
  // The leading decimal integer of the text.
  int GetInt(const char* pszName, int iDefault = 0) const;
  double GetDouble(const char* pszName, double dDefault = 0.0) const;
  // True when the text begins with "1", "T" or "t"; "yes" is false.
  bool GetBool(const char* pszName, bool bDefault = false) const;
  bool Has(const char* pszName) const;

  void SetString(const char* pszName, const char* pszValue);
  void SetInt(const char* pszName, int i);        // "%d"
  void SetDouble(const char* pszName, double d);  // "%f"
  void SetBool(const char* pszName, bool b);      // "1" or "0"

  // The subsection of that name (or number, "%d"), created empty when missing; a view.
  KSWinMemento Sub(const char* pszName);
  KSWinMemento Sub(int i);
  bool HasSub(const char* pszName) const;

  // Reads the XML form from an open file into a new owned tree named pszName.
  static KSWinMemento ReadXml(const char* pszName, FILE* pfile);
  // Writes the tree to a file: the XML form when the path ends in ".xml", else the text form.
  // 0 on success, -1 when a write failed, 1 when the file did not open (logged either way).
  int Write(const char* pszPath) const;

 private:
  AKConfig_T* pconf_;
  bool bOwned_;
};
