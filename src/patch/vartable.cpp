// The variable table.
#include "patch/vartable.h"

VarTable::VarTable() : a_(AK_HERE) {
  a_.Add(Var{});
  pavar_ = a_.begin();
}

int VarTable::Append(const Var& varIn) {
  Var var = varIn;  // the record copied may live in this very table
  Var* pavarOld = a_.begin();
  if (a_.N() == a_.Capacity()) a_.Reserve(a_.Capacity() * 2);
  int i = N();
  a_.Add(Var{});
  a_[i] = var;
  Moved(pavarOld);
  return i;
}

void VarTable::Reserve(int nMore) {
  Var* pavarOld = a_.begin();
  a_.Reserve(a_.N() + nMore);
  Moved(pavarOld);
}

void VarTable::Truncate(int n) {
  a_.Truncate(n);
  a_.Add(Var{});
  index_.Clear();
}

void VarTable::Moved(Var* pavarOld) {
  pavar_ = a_.begin();
  if (pavarOld == pavar_) return;
  int n = N();
  auto moved = [&](auto* p) {
    auto* pOld = reinterpret_cast<char*>(p);
    auto* pStart = reinterpret_cast<char*>(pavarOld);
    if (pOld < pStart || pOld >= pStart + sizeof(Var) * static_cast<size_t>(n)) return p;
    return reinterpret_cast<decltype(p)>(reinterpret_cast<char*>(pavar_) + (pOld - pStart));
  };
  for (int i = 0; i < n; ++i) {
    Var& var = a_[i];
    if (var.avarTable == pavarOld) var.avarTable = pavar_;
    if (var.pvalue) var.pvalue = moved(var.pvalue);
    if (var.pvarHistoryPrev) var.pvarHistoryPrev = moved(var.pvarHistoryPrev);
    if (var.pvarSibling) var.pvarSibling = moved(var.pvarSibling);
  }
}
