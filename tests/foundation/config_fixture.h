// Helpers for the configuration tests: read text from memory and collect the reader's warnings.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "foundation/akconfig.h"
#include "foundation/akstatus.h"

// Collects the messages of one severity while it lives.
class MessageCatcher {
 public:
  explicit MessageCatcher(int iSeverity = AKSWarn) : iSeverity_(iSeverity) {
    AKSSetCallback(iSeverity_, Catch, this);
  }
  ~MessageCatcher() { AKSSetCallback(iSeverity_, nullptr, nullptr); }
  std::vector<std::string> asMessages;

 private:
  static void Catch(int, const char*, int, const char* pszMessage, const char*, void* pv) {
    static_cast<MessageCatcher*>(pv)->asMessages.push_back(pszMessage);
  }
  int iSeverity_;
};

inline AKConfig_T* ReadFromString(const std::string& sText, int iFormat = AKConfigText, const char* pszName = "test") {
  FILE* pfile = fmemopen(const_cast<char*>(sText.data()), sText.size(), "rb");
  if (sText.empty()) pfile = fopen("/dev/null", "rb");
  AKConfig_T* pconf = AKConfigReadStream(pszName, pfile, iFormat);
  fclose(pfile);
  return pconf;
}

inline std::string WriteToString(AKConfig_T* pconf, int iFormat) {
  char* pBuffer = nullptr;
  size_t n = 0;
  FILE* pfile = open_memstream(&pBuffer, &n);
  AKConfigWriteStream(pconf, pfile, iFormat);
  fclose(pfile);
  std::string s(pBuffer, n);
  free(pBuffer);
  return s;
}

// A configuration that frees itself.
struct ConfigPtr {
  AKConfig_T* p;
  explicit ConfigPtr(AKConfig_T* pconf) : p(pconf) {}
  ~ConfigPtr() { AKConfigFree(p); }
  AKConfig_T* operator->() const { return p; }
  operator AKConfig_T*() const { return p; }
};
