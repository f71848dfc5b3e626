// A patch's variable table: records in one contiguous array, ended by a record without a name.
#pragma once

#include "formula/formnames.h"
#include "formula/var.h"
#include "foundation/akarray.h"

// Formulas refer to records by index and evaluate against the first record, so the records stay
// contiguous. When the table must grow beyond its room, the records move and every pointer into
// the table that the records themselves hold (their table, own-value storage, history links) is
// moved with them; parsers read the table through PData(), which always holds the current start.
// A record the compiler adds beside the patch's own: at varAt's level and line (where what goes
// wrong with it is told), with no shadow or origin, to be evaluated.
inline void VarPlaceAt(Var& var, const Var& varAt) {
  var.iLine = varAt.iLine;
  var.iLevel = varAt.iLevel;
  var.iLevelOwn = varAt.iLevelOwn;
  var.iLevelParent = varAt.iLevelParent;
  var.iShadow = -1;
  var.iOrig = -1;
  var.evalState = EvalStale;
}

class VarTable {
 public:
  VarTable();
  int N() const { return a_.N() - 1; }
  Var& operator[](int i) { return a_[i]; }
  const Var& operator[](int i) const { return a_[i]; }
  Var* Data() { return pavar_; }
  Var** PData() { return &pavar_; }
  // Appends a copy of the record before the end record; answers its index.
  int Append(const Var& var);
  // Makes room for n more records, so that appending them keeps every address.
  void Reserve(int nMore);
  // Keeps the first n records.
  void Truncate(int n);
  // The table by name, for the formula parser.
  FormNameIndex* NameIndex() { return &index_; }
  bool Contains(const Var* pvar) const { return pvar >= pavar_ && pvar < pavar_ + N(); }
  int IndexOf(const Var* pvar) const { return Contains(pvar) ? static_cast<int>(pvar - pavar_) : -1; }

 private:
  void Moved(Var* pavarOld);
  AKArray<Var> a_;
  Var* pavar_ = nullptr;
  FormNameIndex index_;
};
