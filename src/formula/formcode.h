// Formulas compiled for evaluation: the arithmetic of a record's tree as flat nodes whose
// operator routine and operand slots are chosen once, after the patch compiler has finished
// rewriting the trees.
//
// A node adds, subtracts, multiplies, divides, raises, takes a minimum or maximum, or negates
// (the folds of those rows, step by step); each operand is a constant, a record
// of the table or another node, and the routine is the one made for that combination, so a
// sample's evaluation runs no switch on node kinds and reads a constant or a current record
// without a call. A sub-tree of any other row stays a tree that its row evaluates as before.
// Every node computes the same operations in the same order as the tree walk: the results are
// the same to the bit, and evaluation stays lazy (a reference is brought up to date when read).
#pragma once

#include <vector>

#include "formula/form.h"
#include "formula/var.h"

struct FormNode;
using FormNodeFn = double (*)(const FormNode* pnode, Var* avarTable);

// An operand: a constant, a record's index in the table, another node, or the per-patch record
// of a voice's copy of a per-patch module output (FormCodeReadShadows).
union FormSlot {
  double d;
  int iVar;
  const FormNode* pnode;
  Var* pvarPatch;
};

struct FormNode {
  FormNodeFn pfn;
  FormSlot a, b;
  Form* pform;  // a sub-tree its row evaluates
};

// Whether a row is arithmetic the nodes compute (+ - * / ^, MIN, MAX, negation), and whether it
// folds its arguments from the first one (MIN and MAX start from a seed).
bool FormFnIsArithmetic(const FormFnInfo* pinfo);
bool FormFnFoldsWithoutSeed(const FormFnInfo* pinfo);
// The most nodes FormCompile appends for a tree, so that a caller can reserve an array that
// never moves while nodes point into it.
int FormCodeSize(const Form* pform);
// Appends the nodes of a tree whose root is arithmetic, a reference or a constant; answers its
// root node, or absent for any other tree (which FormEval keeps evaluating).
const FormNode* FormCompile(Form* pform, std::vector<FormNode>& anode);
// The routine that brings a record whose formula compiled to this root node up to date, as
// FormRefBring would: the node's own work inside it instead of one call further.
VarBringFn FormCodeBring(const FormNode* pnode);
// The records compiled code reads, in the order it reads them (a record read twice is listed
// twice), up to its first part that is not arithmetic (an IF reads some records and not others)
// and at most nMax of them; answers how many it listed.
int FormCodeReads(const FormNode* pnode, int* aiVar, int nMax);
// In the code of the records of a voice table (avarVoice, nVoice records), a reference to a voice's
// copy of a per-patch module output (a record with pvarPatch) reads the per-patch record once that
// is current in the sample, without bringing the copy; the first voice to read it brings the copy
// as before, which computes the module. Answers whether any code changed (the records' routines
// are then FormCodeBring's again).
bool FormCodeReadShadows(const Var* avarVoice, int nVoice);
// The value of compiled code, as FormEval would give it for the tree.
inline double FormRun(const FormNode* pnode, Var* avarTable) { return pnode->pfn(pnode, avarTable); }
