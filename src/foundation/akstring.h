// Text routines that never overrun their destination, path expansion, numbers and sorting.
#pragma once

#include <cstddef>
#include <string>

// Comparisons treat an absent text as empty.
int AKstrcmp(const char* pszA, const char* pszB);
int AKstricmp(const char* pszA, const char* pszB);
int AKstrnicmp(const char* pszA, const char* pszB, size_t n);
// The text with A-Z lowered, as the comparisons that ignore case see it: a key for hash tables.
std::string AKLowerCase(const char* psz);
// Copies at most nSize - 1 characters and terminates; answers whether the source was cut.
bool AKstrcpy(char* pszDest, const char* pszSource, size_t nSize);
int AKsnprintf(char* pszDest, size_t nSize, const char* pszFormat, ...) __attribute__((format(printf, 3, 4)));
// Copies text for showing on a terminal or in a list: every byte a terminal would act on or
// could not show (control characters but the tab, DEL, bytes that do not form UTF-8, and the C1
// controls in UTF-8) is written as \xHH. Cuts between escapes, never inside one; answers
// whether the text was cut.
bool AKEscapeBinary(char* pszDest, size_t nSize, const char* pszSource, size_t nSource);
// A malloc'ed copy, freed with free(); an absent text gives nullptr.
char* AKstrdup(const char* psz);

// Expands $NAME from the environment and a leading ~/ from HOME; answers true when cut.
bool AKExpand(char* pszDest, const char* pszSource, size_t nSize);
// The expansion in a new malloc'ed text, owned by the caller.
char* AKExpandAlloc(const char* pszSource);
char* AKsprintfExpand(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));

int AKsystem(const char* pszCommand);

// -1, 0 or 1; values closer than epsilon times the larger magnitude are equal.
int AKDblCompare(double a, double b);

// Comparison of two elements: for the pointer sorts the elements are the pointers themselves,
// for AKSort the addresses of the records.
using AKCompare_T = int (*)(const void* pvA, const void* pvB, void* pvUser);
void AKSortStable(void** apv, int n, AKCompare_T pfnCompare, void* pvUser);
void AKSort(void* pvRecords, int n, size_t nRecordSize, AKCompare_T pfnCompare, void* pvUser);
void AKSortPtr(void** apv, int n, AKCompare_T pfnCompare, void* pvUser);
