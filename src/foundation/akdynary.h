// A pointer array whose items are allocated the first time their index is asked for.
#pragma once

#include <cstddef>

using AKDynAryCreate_T = void (*)(void* pvItem, int iIndex, void* pvUser);

struct AKDynAry_T {
  void** ppvArray;
  int nSize;
  size_t nItemSize;
  AKDynAryCreate_T pfnCreate;
  void* pvUser;
};

AKDynAry_T* AKDynAryCreate(size_t nItemSize, AKDynAryCreate_T pfnCreate, void* pvUser);
void* AKDynAryGet(AKDynAry_T* pda, int iIndex);
void AKDynAryResize(AKDynAry_T* pda, int nSize);
void AKDynAryFreeItem(AKDynAry_T* pda, int iIndex);
void AKDynAryFree(AKDynAry_T* pda);
