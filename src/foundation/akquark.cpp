// The quark pool: records carved from 64 KiB blocks, found again through a hash index.
#include "foundation/akquark.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "foundation/akstatus.h"

namespace {

// A record is: marker (-1), length, serial number, then the characters and their terminator.
constexpr int kHeader = 12;
constexpr int kBlockBytes = 65528;  // a block of 64 KiB less an allocator header

struct Pool {
  std::unordered_map<std::string_view, const char*> index;
  char* pBlock = nullptr;
  int nBlockLeft = 0;
  int iNextSerial = 0;
  long nBytes = 0;
  std::mutex mutex;  // compiling threads and start-up registration may intern concurrently
};

const char* Intern(Pool& pool, const char* psz, size_t nLength) {
  auto it = pool.index.find(std::string_view(psz, nLength));
  if (it != pool.index.end()) return it->second;
  int nRecord = static_cast<int>((nLength + 16) & ~static_cast<size_t>(3));
  char* pRecord;
  if (nRecord > kBlockBytes) {
    pRecord = static_cast<char*>(malloc(static_cast<size_t>(nRecord)));
    pool.nBytes += nRecord;
  } else {
    if (nRecord > pool.nBlockLeft) {
      pool.pBlock = static_cast<char*>(malloc(kBlockBytes));
      pool.nBlockLeft = kBlockBytes;
      pool.nBytes += kBlockBytes;
    }
    pRecord = pool.pBlock;
    pool.pBlock += nRecord;
    pool.nBlockLeft -= nRecord;
  }
  int32_t aHeader[3] = {-1, static_cast<int32_t>(nLength), pool.iNextSerial++};
  memcpy(pRecord, aHeader, sizeof aHeader);
  char* pszChars = pRecord + kHeader;
  memcpy(pszChars, psz, nLength);
  pszChars[nLength] = 0;
  pool.index.emplace(std::string_view(pszChars, nLength), pszChars);
  return pszChars;
}

Pool& ThePool() {
  static Pool* pool = [] {
    Pool* p = new Pool;  // lives for the whole process: handles are permanent
    Intern(*p, "", 0);
    return p;
  }();
  return *pool;
}

int32_t HeaderField(const char* pszQuark, int iField) {
  int32_t i;
  memcpy(&i, pszQuark - kHeader + 4 * iField, sizeof i);
  return i;
}

}  // namespace

const char* AKQuark(const char* psz) {
  Pool& pool = ThePool();
  std::lock_guard<std::mutex> lock(pool.mutex);
  return Intern(pool, psz ? psz : "", psz ? strlen(psz) : 0);
}

int AKQuarkLength(const char* pszQuark) { return HeaderField(pszQuark, 1); }

int AKQuarkSerial(const char* pszQuark) { return HeaderField(pszQuark, 2); }

long AKQuarkMemory() { return ThePool().nBytes; }

void AKQuarkReport() { AKS(AKSStatus, AK_HERE, "Total memory usage for quarks is %d bytes", static_cast<int>(AKQuarkMemory())); }
