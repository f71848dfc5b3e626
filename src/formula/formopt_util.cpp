// Tree surgery for the optimizer.
#include "formula/formopt_util.h"

#include <cstdlib>
#include <cstring>

void FormReplace(Form** ppform, Form* pformNew) {
  Form* pformOld = *ppform;
  *ppform = pformNew;
  FormFree(pformOld);
}

Form* FormDetachArg(Form* pform, int i) {
  auto& fn = pform->u.fn;
  Form* pformArg = fn.apformArg[i];
  memmove(fn.apformArg + i, fn.apformArg + i + 1, sizeof(Form*) * static_cast<size_t>(fn.nArg - i - 1));
  --fn.nArg;
  return pformArg;
}

void FormReplaceByArg(Form** ppform, int i) { FormReplace(ppform, FormDetachArg(*ppform, i)); }

void FormRemoveArg(Form* pform, int i) { FormFree(FormDetachArg(pform, i)); }

void FormSpliceArgs(Form* pform, int i) {
  Form* pformInner = FormDetachArg(pform, i);
  auto& fn = pform->u.fn;
  int nInner = pformInner->u.fn.nArg;
  // Make room for the inner arguments at position i.
  for (int k = 0; k < nInner; ++k) FormAddArg(pform, nullptr);
  memmove(fn.apformArg + i + nInner, fn.apformArg + i, sizeof(Form*) * static_cast<size_t>(fn.nArg - nInner - i));
  memcpy(fn.apformArg + i, pformInner->u.fn.apformArg, sizeof(Form*) * static_cast<size_t>(nInner));
  pformInner->u.fn.nArg = 0;
  FormFree(pformInner);
}
