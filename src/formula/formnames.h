// An index of a variable table by record name and by module name, so that the parser finds a
// name without walking the whole table.
#pragma once

#include <cstddef>
#include <vector>

#include "formula/var.h"

// The index follows a table that only grows at its end: every look-up first indexes the records
// appended since the last one (up to the record without a name). A table that is cut or
// rewritten must call Clear(). Records are chained by a hash of their name (the first character
// exactly, the rest ignoring case, as names compare) and of their module name (ignoring case), in
// table order; a chain may hold other names that share its hash, so a caller compares each record.
//   for (int i = index.FirstNamed(avar, pszName); i >= 0; i = index.NextNamed(i)) ...
class FormNameIndex {
 public:
  int FirstNamed(const Var* avar, const char* pszName);
  int NextNamed(int i) const { return aiNextName_[static_cast<size_t>(i)]; }
  int FirstInModule(const Var* avar, const char* pszModule);
  int NextInModule(int i) const { return aiNextModule_[static_cast<size_t>(i)]; }
  void Clear();

 private:
  struct Chains {
    std::vector<int> aiHead, aiTail;
  };
  void CatchUp(const Var* avar);
  void Link(Chains& chains, std::vector<int>& aiNext, unsigned uHash, int i);
  Chains name_, module_;
  std::vector<int> aiNextName_, aiNextModule_;
  int nIndexed_ = 0;
};
