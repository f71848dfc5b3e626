// Tree surgery shared by the optimizer and the functions' own simplifications.
#pragma once

#include "formula/form.h"

// Puts a new node in the place of the old one and frees the old one (which must not own it).
void FormReplace(Form** ppform, Form* pformNew);
// Replaces a call by its argument i (the other arguments are freed).
void FormReplaceByArg(Form** ppform, int i);
// Removes and frees argument i, keeping the order of the rest.
void FormRemoveArg(Form* pform, int i);
// Takes argument i out of the call without freeing it.
Form* FormDetachArg(Form* pform, int i);
// Replaces argument i, itself a call, by its own arguments.
void FormSpliceArgs(Form* pform, int i);
// True for a numeric constant of exactly this value.
inline bool FormIsNum(const Form* pform, double d) { return pform->et == FormTypeNumeric && pform->u.value == d; }
