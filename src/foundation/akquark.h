// Interned strings: each distinct text is stored once and keeps one permanent handle.
#pragma once

// The handle is the address of the quark's characters, usable as a terminated text;
// equal texts give equal handles, so handles compare by address.
const char* AKQuark(const char* psz);
int AKQuarkLength(const char* pszQuark);
int AKQuarkSerial(const char* pszQuark);
void AKQuarkReport();
// Bytes taken from the allocator by the pool so far.
long AKQuarkMemory();
