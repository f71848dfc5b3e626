// The filter factory: registration, the keyword index and type changes.
#include "modules/filters/filterfactory.h"

#include "formula/errorlist.h"
#include "formula/formenum.h"

FilterFactory* FilterFactory::Get() {
  static FilterFactory factory;
  return &factory;
}

void FilterFactory::BuildIndex() {
  if (aptypeIndex_.N() > 0) return;
  for (const FilterType* ptype : aptypeRegistered_) {
    int iType = FormEnumIntern(ptype->pszName);
    aptypeIndex_.SetSize(iType + 1);
    aptypeIndex_[iType] = ptype;
  }
}

int FilterFactory::ChangeType(int iType, Filter& filter) {
  const FilterType* ptype = Find(iType);
  if (!ptype) {
    char szNumber[16];  // FormEnumName writes the number here when it names no keyword
    ERRADD(-1, "Unknown filter type %d (%s) requested; cannot change type", iType,
           FormEnumName(iType, szNumber, sizeof szNumber));
    return -1;
  }
  ptype->Apply(filter);
  return 0;
}

void FilterFactory::Register(const FilterType* ptype) { aptypeRegistered_.Add(ptype); }
