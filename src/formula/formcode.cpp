// Compiled formulas: the node routines, one per operator and kinds of operands, and the compiler.
#include "formula/formcode.h"

#include <cfloat>
#include <utility>

#include "formula/formeval.h"
#include "formula/formfn.h"
#include "formula/formfn_rows.h"

namespace {

enum Kind { KindConst, KindRef, KindNode, KindShadow, KindCount };

template <int kind>
inline double Operand(const FormSlot& slot, Var* avarTable) {
  if constexpr (kind == KindConst) return slot.d;
  if constexpr (kind == KindRef) return FormRefValue(avarTable, slot.iVar);
  if constexpr (kind == KindNode) return slot.pnode->pfn(slot.pnode, avarTable);
  if constexpr (kind == KindShadow) {
    // The copy shares the per-patch record's storage: once that is current, so is the value.
    const Var* pvarPatch = slot.pvarPatch;
    if (pvarPatch->evalState == EvalCurrent) [[likely]]
      return *pvarPatch->pvalue;
    return FormRefValue(avarTable, pvarPatch->iShadow);
  }
  return 0;
}

struct Mul {
  static double Do(double a, double b) { return a * b; }
};
struct Div {
  static double Do(double a, double b) { return a / b; }
};
struct Add {
  static double Do(double a, double b) { return a + b; }
};
struct Sub {
  static double Do(double a, double b) { return a - b; }
};
struct Pow {
  static double Do(double a, double b) { return FormPowStep(a, b); }
};
struct Min {
  static double Do(double r, double d) { return FormMinStep(r, d); }
};
struct Max {
  static double Do(double r, double d) { return FormMaxStep(r, d); }
};

// The left operand first, as the tree walk reads its arguments.
template <class Op, int kindA, int kindB>
double Binary(const FormNode* pnode, Var* avarTable) {
  double a = Operand<kindA>(pnode->a, avarTable);
  return Op::Do(a, Operand<kindB>(pnode->b, avarTable));
}

template <int kind>
double Negate(const FormNode* pnode, Var* avarTable) {
  return -Operand<kind>(pnode->a, avarTable);
}

template <int kind>
double Single(const FormNode* pnode, Var* avarTable) {
  return Operand<kind>(pnode->a, avarTable);
}

// A record whose formula compiled to a root of routine pfn, brought up to date (FormRefBring).
template <FormNodeFn pfn>
void Record(Var* pvar, Var* avarTable) {
  if (pvar->evalState != EvalStale) {  // being evaluated: a loop, which the general routine reports
    FormRefBring(pvar, avarTable);
    return;
  }
  pvar->evalState = EvalBusy;
  *pvar->pvalue = pfn(pvar->pcode, avarTable);
  pvar->evalState = EvalCurrent;
}

// Any other row: its own routine over the tree, as an argument is evaluated (FormArg).
double Tree(const FormNode* pnode, Var* avarTable) {
  double d = 0;
  FormEval(pnode->pform, avarTable, &d);
  return d;
}

// The node routines of one operator by kinds of operands, and the record routines beside them.
template <class Op>
struct BinaryTable {
  template <int kindA, int... kindB>
  constexpr void Row(std::integer_sequence<int, kindB...>) {
    ((a[kindA][kindB] = Binary<Op, kindA, kindB>), ...);
    ((ar[kindA][kindB] = Record<Binary<Op, kindA, kindB>>), ...);
  }
  template <int... kindA>
  constexpr void Fill(std::integer_sequence<int, kindA...>) {
    (Row<kindA>(std::make_integer_sequence<int, KindCount>()), ...);
  }
  FormNodeFn a[KindCount][KindCount] = {};
  VarBringFn ar[KindCount][KindCount] = {};
  constexpr BinaryTable() { Fill(std::make_integer_sequence<int, KindCount>()); }
};

constexpr BinaryTable<Mul> kMul;
constexpr BinaryTable<Div> kDiv;
constexpr BinaryTable<Add> kAdd;
constexpr BinaryTable<Sub> kSub;
constexpr BinaryTable<Pow> kPow;
constexpr BinaryTable<Min> kMin;
constexpr BinaryTable<Max> kMax;
constexpr FormNodeFn kNegate[KindCount] = {Negate<KindConst>, Negate<KindRef>, Negate<KindNode>, Negate<KindShadow>};
constexpr FormNodeFn kSingle[KindCount] = {Single<KindConst>, Single<KindRef>, Single<KindNode>, Single<KindShadow>};

// Every node routine with its record routine, for FormCodeBring.
struct RecordOf {
  FormNodeFn pfn;
  VarBringFn pfnBring;
};
const RecordOf kaRecordOther[] = {
    {Negate<KindConst>, Record<Negate<KindConst>>}, {Negate<KindRef>, Record<Negate<KindRef>>},
    {Negate<KindNode>, Record<Negate<KindNode>>},   {Negate<KindShadow>, Record<Negate<KindShadow>>},
    {Single<KindConst>, Record<Single<KindConst>>}, {Single<KindRef>, Record<Single<KindRef>>},
    {Single<KindNode>, Record<Single<KindNode>>},   {Single<KindShadow>, Record<Single<KindShadow>>},
    {Tree, Record<Tree>},
};

// A row the nodes compute as a fold of its arguments: the step's routines, and for MIN and MAX
// the value the fold starts from (the others start from the first argument).
struct Fold {
  const FormFnInfo* pinfo;
  const FormNodeFn (*afn)[KindCount];
  const VarBringFn (*afnBring)[KindCount];
  bool bSeed;
  double dSeed;
};
const Fold kaFold[] = {
    {&FormFnRowMultiply, kMul.a, kMul.ar, false, 0}, {&FormFnRowDivide, kDiv.a, kDiv.ar, false, 0},
    {&FormFnRowAdd, kAdd.a, kAdd.ar, false, 0},      {&FormFnRowSubtract, kSub.a, kSub.ar, false, 0},
    {&FormFnRowPower, kPow.a, kPow.ar, false, 0},    {&FormFnRowMin, kMin.a, kMin.ar, true, DBL_MAX},
    {&FormFnRowMax, kMax.a, kMax.ar, true, -DBL_MAX},
};

const Fold* FoldOf(const FormFnInfo* pinfo) {
  for (const Fold& fold : kaFold)
    if (fold.pinfo == pinfo) return &fold;
  return nullptr;
}

// The fold a binary node's routine belongs to, with the kinds of its operands; absent for any
// other routine.
const Fold* FoldOfRoutine(FormNodeFn pfn, int* pkindA, int* pkindB) {
  for (const Fold& fold : kaFold)
    for (int a = 0; a < KindCount; ++a)
      for (int b = 0; b < KindCount; ++b)
        if (fold.afn[a][b] == pfn) {
          *pkindA = a, *pkindB = b;
          return &fold;
        }
  return nullptr;
}

bool IsConstantValue(const Form* pform) {
  return pform->et == FormTypeNumeric || pform->et == FormTypeString || pform->et == FormTypeBoolean ||
         pform->et == FormTypeKeyword;
}

bool IsArithmetic(const Form* pform) {
  if (pform->et != FormTypeFn || pform->u.fn.nArg < 1) return false;
  if (pform->u.fn.pinfo == &FormFnUnaryMinus) return pform->u.fn.nArg == 1;
  return FoldOf(pform->u.fn.pinfo) != nullptr;
}

class Compiler {
 public:
  explicit Compiler(std::vector<FormNode>& anode) : anode_(anode) {}

  // The operand for a tree: a constant or a reference in place, anything else a node.
  int Slot(Form* pform, FormSlot* pslot) {
    if (IsConstantValue(pform)) {
      pslot->d = pform->u.value;
      return KindConst;
    }
    if (pform->et == FormTypeRef && pform->u.iVar >= 0) {
      pslot->iVar = pform->u.iVar;
      return KindRef;
    }
    pslot->pnode = Node(pform);
    return KindNode;
  }

  const FormNode* Node(Form* pform) {
    FormNode node{};
    if (IsConstantValue(pform) || (pform->et == FormTypeRef && pform->u.iVar >= 0)) {  // a root of one operand
      node.pfn = kSingle[Slot(pform, &node.a)];
      return Append(node);
    }
    if (!IsArithmetic(pform)) {
      node.pfn = Tree;
      node.pform = pform;
      return Append(node);
    }
    Form** apArg = pform->u.fn.apformArg;
    if (pform->u.fn.pinfo == &FormFnUnaryMinus) {
      node.pfn = kNegate[Slot(apArg[0], &node.a)];
      return Append(node);
    }
    // A call of n arguments folds from the left: ((a0 op a1) op a2) ..., or (((seed op a0) op
    // a1) op a2) ... for MIN and MAX. A step between two constants (the seed and a constant, in
    // the main) is taken now, by the routine that would take it while running.
    const Fold* pfold = FoldOf(pform->u.fn.pinfo);
    FormSlot left{};
    int kindLeft = KindConst;
    int iFirst = 0;
    if (pfold->bSeed) {
      left.d = pfold->dSeed;
    } else {
      kindLeft = Slot(apArg[0], &left);
      iFirst = 1;
    }
    for (int i = iFirst; i < pform->u.fn.nArg; ++i) {
      node = FormNode{};
      node.a = left;
      const int kindB = Slot(apArg[i], &node.b);
      node.pfn = pfold->afn[kindLeft][kindB];
      if (kindLeft == KindConst && kindB == KindConst) {
        left.d = node.pfn(&node, nullptr);
        continue;
      }
      left.pnode = Append(node);
      kindLeft = KindNode;
    }
    if (kindLeft == KindNode) return left.pnode;
    node = FormNode{};
    node.a = left;
    node.pfn = kSingle[kindLeft];
    return Append(node);
  }

 private:
  // Nodes point at each other, so the array must not move: beyond the room the caller reserved,
  // the compilation is abandoned and the tree keeps being walked.
  const FormNode* Append(const FormNode& node) {
    if (anode_.size() == anode_.capacity()) {
      bFull = true;
      return nullptr;
    }
    anode_.push_back(node);
    return &anode_.back();
  }
  std::vector<FormNode>& anode_;

 public:
  bool bFull = false;
};

}  // namespace

bool FormFnIsArithmetic(const FormFnInfo* pinfo) { return pinfo == &FormFnUnaryMinus || FoldOf(pinfo) != nullptr; }

bool FormFnFoldsWithoutSeed(const FormFnInfo* pinfo) {
  const Fold* pfold = FoldOf(pinfo);
  return pfold && !pfold->bSeed;
}

VarBringFn FormCodeBring(const FormNode* pnode) {
  if (!pnode) return FormRefBring;
  int a, b;
  if (const Fold* pfold = FoldOfRoutine(pnode->pfn, &a, &b)) return pfold->afnBring[a][b];
  for (const RecordOf& rec : kaRecordOther)
    if (rec.pfn == pnode->pfn) return rec.pfnBring;
  return FormRefBring;
}

namespace {

// The kinds of a node's operands: how many it has (0 for a tree), and theirs.
int OperandKinds(const FormNode* pnode, int* akind) {
  if (FoldOfRoutine(pnode->pfn, &akind[0], &akind[1])) return 2;
  for (int k = 0; k < KindCount; ++k)
    if (kNegate[k] == pnode->pfn || kSingle[k] == pnode->pfn) {
      akind[0] = k;
      return 1;
    }
  return 0;
}

// FormCodeReads from *pn on: false where the listing had to stop.
bool ListReads(const FormNode* pnode, int* aiVar, int nMax, int* pn) {
  int akind[2];
  const int nOperand = OperandKinds(pnode, akind);
  if (nOperand == 0) return false;
  const FormSlot* aslot[2] = {&pnode->a, &pnode->b};
  for (int i = 0; i < nOperand; ++i) {
    if (akind[i] == KindNode && !ListReads(aslot[i]->pnode, aiVar, nMax, pn)) return false;
    if (akind[i] != KindRef && akind[i] != KindShadow) continue;
    if (*pn == nMax) return false;
    aiVar[(*pn)++] = akind[i] == KindRef ? aslot[i]->iVar : aslot[i]->pvarPatch->iShadow;
  }
  return true;
}

// FormCodeReadShadows for the nodes from pnode on.
bool ReadShadows(FormNode* pnode, const Var* avarVoice, int nVoice) {
  int akind[2];
  const int nOperand = OperandKinds(pnode, akind);
  FormSlot* aslot[2] = {&pnode->a, &pnode->b};
  bool bBelow = false, bOwn = false;
  for (int i = 0; i < nOperand; ++i) {
    if (akind[i] == KindNode) bBelow = ReadShadows(const_cast<FormNode*>(aslot[i]->pnode), avarVoice, nVoice) || bBelow;
    if (akind[i] != KindRef || aslot[i]->iVar < 0 || aslot[i]->iVar >= nVoice) continue;
    Var* pvarPatch = avarVoice[aslot[i]->iVar].pvarPatch;
    if (!pvarPatch || pvarPatch->iShadow != aslot[i]->iVar) continue;
    aslot[i]->pvarPatch = pvarPatch;
    akind[i] = KindShadow;
    bOwn = true;
  }
  if (!bOwn) return bBelow;
  int a, b;
  if (const Fold* pfold = FoldOfRoutine(pnode->pfn, &a, &b)) {
    pnode->pfn = pfold->afn[akind[0]][akind[1]];
  } else {
    for (int k = 0; k < KindCount; ++k) {
      if (kNegate[k] == pnode->pfn) {
        pnode->pfn = kNegate[akind[0]];
        break;
      }
      if (kSingle[k] == pnode->pfn) {
        pnode->pfn = kSingle[akind[0]];
        break;
      }
    }
  }
  return true;
}

}  // namespace

bool FormCodeReadShadows(const Var* avarVoice, int nVoice) {
  bool bChanged = false;
  for (int i = 0; i < nVoice; ++i)
    if (avarVoice[i].pcode) bChanged = ReadShadows(const_cast<FormNode*>(avarVoice[i].pcode), avarVoice, nVoice) || bChanged;
  return bChanged;
}

int FormCodeReads(const FormNode* pnode, int* aiVar, int nMax) {
  int n = 0;
  if (pnode) ListReads(pnode, aiVar, nMax, &n);
  return n;
}

int FormCodeSize(const Form* pform) {
  if (!pform || pform->et != FormTypeFn) return 1;
  int n = pform->u.fn.nArg + 1;
  for (int i = 0; i < pform->u.fn.nArg; ++i) n += FormCodeSize(pform->u.fn.apformArg[i]);
  return n;
}

const FormNode* FormCompile(Form* pform, std::vector<FormNode>& anode) {
  if (!pform || !(IsArithmetic(pform) || IsConstantValue(pform) || (pform->et == FormTypeRef && pform->u.iVar >= 0)))
    return nullptr;
  Compiler compiler(anode);
  const FormNode* pnode = compiler.Node(pform);
  return compiler.bFull ? nullptr : pnode;
}
