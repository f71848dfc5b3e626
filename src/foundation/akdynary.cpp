// The lazily filled pointer array.
#include "foundation/akdynary.h"

#include <cstdlib>
#include <cstring>

#include "foundation/akstatus.h"

AKDynAry_T* AKDynAryCreate(size_t nItemSize, AKDynAryCreate_T pfnCreate, void* pvUser) {
  auto* pda = static_cast<AKDynAry_T*>(calloc(1, sizeof(AKDynAry_T)));
  pda->nItemSize = nItemSize;
  pda->pfnCreate = pfnCreate;
  pda->pvUser = pvUser;
  AKDynAryResize(pda, 4);
  return pda;
}

void AKDynAryResize(AKDynAry_T* pda, int nSize) {
  if (nSize < pda->nSize) {
    for (int i = nSize; i < pda->nSize; ++i) free(pda->ppvArray[i]);
  }
  pda->ppvArray = static_cast<void**>(realloc(pda->ppvArray, sizeof(void*) * static_cast<size_t>(nSize > 0 ? nSize : 1)));
  for (int i = pda->nSize; i < nSize; ++i) pda->ppvArray[i] = nullptr;
  pda->nSize = nSize;
}

void* AKDynAryGet(AKDynAry_T* pda, int iIndex) {
  AKAssert(iIndex >= 0);
  if (iIndex >= pda->nSize) {
    int nNew = pda->nSize > 0 ? pda->nSize : 1;
    while (nNew <= iIndex) nNew *= 2;
    AKDynAryResize(pda, nNew);
  }
  if (!pda->ppvArray[iIndex]) {
    pda->ppvArray[iIndex] = calloc(1, pda->nItemSize ? pda->nItemSize : 1);
    if (pda->pfnCreate) pda->pfnCreate(pda->ppvArray[iIndex], iIndex, pda->pvUser);
  }
  return pda->ppvArray[iIndex];
}

void AKDynAryFreeItem(AKDynAry_T* pda, int iIndex) {
  if (iIndex >= pda->nSize) {
    AKS(AKSWarn, AK_HERE, "%s", "caller freeing item beyond end of array");
    return;
  }
  free(pda->ppvArray[iIndex]);
  pda->ppvArray[iIndex] = nullptr;
}

void AKDynAryFree(AKDynAry_T* pda) {
  AKAssert(pda->ppvArray != NULL);
  for (int i = 0; i < pda->nSize; ++i) free(pda->ppvArray[i]);
  free(pda->ppvArray);
  free(pda);
}
