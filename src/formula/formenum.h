// The keyword registry: names that formulas may use as keyword constants, indexed by number.
#pragma once

// Stores the name at that number and answers its interned handle. A name registered twice, or a
// number above 500, is a defect of the program and ends it.
const char* FormEnumReg(int iIndex, const char* pszName);
// Registers the name at the first free number if it is not registered yet; answers its number.
int FormEnumIntern(const char* pszName);
// The number of the first registered name equal to it; an unknown name goes to the error list
// ("asked for enum ... which isn't registered") and gives -1.
int FormEnumFind(const char* pszName);
// Like FormEnumFind without the error-list message; the parser compares keywords ignoring case.
int FormEnumLookup(const char* pszName, bool bIgnoreCase = false);
// The registered name, or the number written into szBuffer when it is outside the list.
const char* FormEnumName(int iIndex, char* szBuffer, int nSize);
// One past the highest registered number.
int FormEnumCount();
