// What a patch may say, read from the module factory and the formula tables: the material of
// the fuzzers' dictionaries and of the structure-aware patch generator.
#pragma once

#include <string>
#include <vector>

struct PatchVarInfo {
  std::string sName;
  int type;  // value kind: 1 number, 2 text, 4 boolean, 16 keyword
};

struct PatchTypeInfo {
  std::string sName;
  std::vector<PatchVarInfo> avarIn;
  std::vector<PatchVarInfo> avarOut;
  std::vector<std::string> asNumberedIn;   // prefixes the type accepts as numbered inputs ("Freq")
  std::vector<std::string> asNumberedOut;  // prefixes of outputs made on demand ("Tap")
  bool bHelper = false;      // a per-patch helper, made by the compiler, never written in a patch
  bool bStructural = false;  // a kind every patch has once (Voice, Note ...) or a stand-in for one
};

struct PatchFnInfo {
  std::string sName;
  std::vector<int> anArgs;  // argument counts the function accepts (probed up to four)
};

struct PatchTables {
  std::vector<PatchTypeInfo> atype;  // in look-up order, the envelope stage types included
  std::vector<PatchFnInfo> afn;      // named functions
  std::vector<std::string> asOp;     // infix operators
  std::vector<std::string> asUnit;
  std::vector<std::string> asKeyword;
  const PatchTypeInfo* Find(const std::string& sName) const;
};

// Reads the tables once (running the module start-up work first); later calls answer the same.
const PatchTables& GetPatchTables();
