// Sorting: a stable merge sort over pointers and in-place quicksorts over records or pointers.
#include <cstdlib>
#include <cstring>
#include <utility>

#include "foundation/akstatus.h"
#include "foundation/akstring.h"

namespace {

void MergeSort(void** apv, void** apvScratch, int n, AKCompare_T pfnCompare, void* pvUser) {
  if (n < 2) return;
  int nLeft = n / 2;
  MergeSort(apv, apvScratch, nLeft, pfnCompare, pvUser);
  MergeSort(apv + nLeft, apvScratch, n - nLeft, pfnCompare, pvUser);
  int i = 0, j = nLeft, k = 0;
  // Taking from the left run on ties keeps equal elements in their input order.
  while (i < nLeft && j < n) apvScratch[k++] = pfnCompare(apv[j], apv[i], pvUser) < 0 ? apv[j++] : apv[i++];
  while (i < nLeft) apvScratch[k++] = apv[i++];
  while (j < n) apvScratch[k++] = apv[j++];
  memcpy(apv, apvScratch, sizeof(void*) * static_cast<size_t>(n));
}

void SwapBytes(char* a, char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) std::swap(a[i], b[i]);
}

// Quicksort over n records of nSize bytes; recursion on the smaller side bounds the depth.
void QuickSort(char* p, int n, size_t nSize, AKCompare_T pfnCompare, void* pvUser, bool bPointers) {
  auto at = [&](int i) { return p + static_cast<size_t>(i) * nSize; };
  auto cmp = [&](int i, int j) {
    return bPointers ? pfnCompare(*reinterpret_cast<void**>(at(i)), *reinterpret_cast<void**>(at(j)), pvUser)
                     : pfnCompare(at(i), at(j), pvUser);
  };
  while (n > 1) {
    SwapBytes(at(0), at(n / 2), nSize);  // middle element as pivot, parked at 0
    int iLast = 0;
    for (int i = 1; i < n; ++i)
      if (cmp(i, 0) < 0) SwapBytes(at(++iLast), at(i), nSize);
    SwapBytes(at(0), at(iLast), nSize);
    if (iLast < n - iLast - 1) {
      QuickSort(p, iLast, nSize, pfnCompare, pvUser, bPointers);
      p = at(iLast + 1);
      n = n - iLast - 1;
    } else {
      QuickSort(at(iLast + 1), n - iLast - 1, nSize, pfnCompare, pvUser, bPointers);
      n = iLast;
    }
  }
}

}  // namespace

void AKSortStable(void** apv, int n, AKCompare_T pfnCompare, void* pvUser) {
  if (n < 2) return;
  size_t nBytes = sizeof(void*) * static_cast<size_t>(n);
  void** apvScratch = static_cast<void**>(malloc(nBytes));
  if (!apvScratch) {
    AKS(AKSError, AK_HERE, nBytes < 1024 ? "couldn't AKalloca() %d bytes" : "couldn't malloc() %d bytes",
        static_cast<int>(nBytes));
    return;
  }
  MergeSort(apv, apvScratch, n, pfnCompare, pvUser);
  free(apvScratch);
}

void AKSort(void* pvRecords, int n, size_t nRecordSize, AKCompare_T pfnCompare, void* pvUser) {
  QuickSort(static_cast<char*>(pvRecords), n, nRecordSize, pfnCompare, pvUser, false);
}

void AKSortPtr(void** apv, int n, AKCompare_T pfnCompare, void* pvUser) {
  QuickSort(reinterpret_cast<char*>(apv), n, sizeof(void*), pfnCompare, pvUser, true);
}
