// Names in formulas: references to variables and modules, levels, history, the per-voice guard,
// inline modules, and their evaluation with lazy update and loop detection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formula/formfn.h"
#include "table_fixture.h"

namespace {

// A patch of three modules whose references the tests follow; each test runs with the tables
// walked and with them looked up through a name index, which must find the same records.
class Refs : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ErrorList::Get()->Clear();
    table.Add("Osc1", "Freq", "440");
    table.Add("Osc1", "Gain", "Freq / 880");
    table.Add("Osc1", "Output");
    table.Add("Osc2", "Freq", "Osc1:Freq * 2");
    table.Add("Osc2", "Output");
    table.Add("Env", "Attack", "0.5");
    table.Add("Env", "C#4", "261.6");
    table.Add("Global", "FreqA", "440", 0);
    table.Add("Sub", "Gain", "0.25", 2);
  }
  // Parses one formula as if it were a variable of the module, against the table.
  Form* Parse(const char* pszText, const char* pszModule = "Osc2", int iLevel = 1, int iLevelParent = -1) {
    FormParseContext ctx;
    pavar = table.Table();
    ctx.ppavarTable = &pavar;
    ctx.pindexTable = Index(&index);
    ctx.pszText = pszText;
    ctx.pszModule = pszModule;
    ctx.iLevel = iLevel;
    ctx.iLevelParent = iLevelParent;
    ctx.pvUser = this;
    ctx.pfnResolve = [](void* pv, const char* pszModule, const char* pszName, int iHistory) {
      static_cast<Refs*>(pv)->asResolved.push_back(std::string(pszModule ? pszModule : "-") + ":" + pszName + "@" +
                                                   std::to_string(iHistory));
    };
    Form* pform = FormParse(ctx, &split);
    aForms.push_back(pform);
    return pform;
  }
  std::string Text(const char* pszText, const char* pszModule = "Osc2") {
    Form* pform = Parse(pszText, pszModule);
    return FormIsError(pform) ? std::string("error: ") + FormTypeName(pform) + " >>>" + split.sStretch
                              : FormToText(pform, table.Table());
  }
  void TearDown() override {
    for (Form* pform : aForms) FormFree(pform);
  }
  FormNameIndex* Index(FormNameIndex* pindex) const { return GetParam() ? pindex : nullptr; }

  TestTable table;
  FormNameIndex index, indexVoice;
  Var* pavar = nullptr;
  FormParseSplit split;
  std::vector<Form*> aForms;
  std::vector<std::string> asResolved;
};

}  // namespace

TEST_P(Refs, NamesResolveByModuleCurrentModuleFirst) {
  EXPECT_EQ(Text("Freq"), "<1>Osc2:Freq") << "the current module's own variable wins";
  EXPECT_EQ(Text("Osc1:FREQ"), "<1>Osc1:Freq") << "after the first letter case does not matter";
  EXPECT_EQ(Text("osc1 : FREQ"), "<1>Osc1:Freq") << "module names ignore case";
  EXPECT_EQ(Text("Osc1"), "<1>Osc1:Output") << "a module alone means its Output";
  EXPECT_EQ(Text("Attack"), "<1>Env:Attack") << "a name only one module has needs no module";
  EXPECT_EQ(Text("C#4 * 2"), "<1>Env:C#4*2") << "a note name is one word";
  EXPECT_EQ(Text("FreqA"), "<0>Global:FreqA") << "Global is seen from every level";
}

TEST_P(Refs, NameErrorsAndTheirPlaces) {
  EXPECT_EQ(Text("freq"), "error: this module name, field name, or key word isn't known >>>freq")
      << "the first letter must match exactly";
  EXPECT_EQ(Text("Output", "Env"), "error: only unique field names may be used without a module name >>>Output");
  EXPECT_EQ(Text("Osc1:"), "error: a module name and colon must be followed by a variable name >>>:");
  EXPECT_EQ(Text("Osc1:Nothing"), "error: this module name, field name, or key word isn't known >>>Osc1:Nothing");
  EXPECT_EQ(Text("Sub:Gain"), "error: this module name, field name, or key word isn't known >>>Sub") << "level 2 is not visible";
}

TEST_P(Refs, SuperSeesTheParentLevel) {
  Form* pform = Parse("SUPER(Gain) + Gain", "Osc2", 2, 1);
  ASSERT_FALSE(FormIsError(pform)) << FormTypeName(pform);
  EXPECT_EQ(FormToText(pform, table.Table()), "SUPER(<1>Osc1:Gain)+<2>Sub:Gain");
}

TEST_P(Refs, TheCallbackHearsOfEveryReferenceFirst) {
  Parse("Freq + Osc1:Freq@2 + Osc1");
  EXPECT_EQ(asResolved, (std::vector<std::string>{"-:Freq@0", "Osc1:Freq@2"}))
      << "a missing history copy stops the parse";
  asResolved.clear();
  EXPECT_EQ(Parse("Freq + Osc1:Freq + Osc1")->et, FormTypeFn);
  EXPECT_EQ(asResolved, (std::vector<std::string>{"-:Freq@0", "Osc1:Freq@0", "-:Osc1@0", "Osc1:Output@0"}))
      << "a bare module name is first asked about as a variable name";
  asResolved.clear();
  EXPECT_EQ(Parse("Freq@3")->et, FormTypeErrInternal) << "no history copy was made by the callback";
  EXPECT_EQ(asResolved, (std::vector<std::string>{"-:Freq@0", "Osc2:Freq@3"}));
}

TEST_P(Refs, PerVoiceNamesAreRefusedInPerPatchFormulas) {
  TestTable voice;
  voice.Add("Osc9", "Freq", "1");
  voice.Add("Osc9", "Detune", "1");
  FormParseContext ctx;
  Var* avar = table.Table();
  Var* avarVoice = voice.Table();
  ctx.ppavarTable = &avar;
  ctx.ppavarVoice = &avarVoice;
  ctx.pindexTable = Index(&index);
  ctx.pindexVoice = Index(&indexVoice);
  ctx.pszModule = "Osc1";
  for (const char* psz : {"Detune", "Osc9", "Osc9:Freq"}) {
    ctx.pszText = psz;
    Form* pform = FormParse(ctx);
    EXPECT_EQ(pform->et, FormTypeErrPerVoiceReference) << psz;
    FormFree(pform);
  }
  ctx.pszText = "SumVoices(Osc9:Freq) + Freq";
  Form* pform = FormParse(ctx);
  ASSERT_FALSE(FormIsError(pform)) << FormTypeName(pform);
  EXPECT_EQ(FormToText(pform, avar, avarVoice), "SumVoices(<1>Osc9:Freq)+<1>Osc1:Freq");
  FormFree(pform);
}

TEST_P(Refs, InlineModulesAreCreatedThroughTheCallback) {
  struct Anonymous {
    std::vector<std::string> asArgs;
    TestTable* ptable;
  } anon{{}, &table};
  FormParseContext ctx;
  Var* avar = table.Table();
  ctx.ppavarTable = &avar;
  ctx.pindexTable = Index(&index);
  ctx.pszModule = "Osc2";
  ctx.pvUser = &anon;
  ctx.pfnIsModuleType = [](const char* psz) { return std::string(psz) == "Slew"; };
  ctx.pfnAnonymous = [](void* pv, const char* pszType, const char* const* apszArgs, int nArgs, int* piRejected,
                        char* szName, int nSize) {
    auto* pa = static_cast<Anonymous*>(pv);
    for (int i = 0; i < nArgs; ++i) pa->asArgs.push_back(apszArgs[i]);
    if (nArgs > 2) *piRejected = 2;
    snprintf(szName, static_cast<size_t>(nSize), "%s_0", pszType);
    pa->ptable->Add("Slew_0", "Output");
    pa->ptable->Add("Slew_0", "Rate");
  };
  ctx.pszText = "Slew( Freq * 2 , 3 ):Rate";
  avar = table.Table();
  Form* pform = FormParse(ctx);
  avar = table.Table();
  ASSERT_FALSE(FormIsError(pform)) << FormTypeName(pform);
  EXPECT_EQ(FormToText(pform, avar), "<1>Slew_0:Rate");
  EXPECT_EQ(anon.asArgs, (std::vector<std::string>{"Freq * 2", "3"}));
  FormFree(pform);
  FormParseSplit split;
  ctx.pszText = "Slew(1, 2, 3 )";
  pform = FormParse(ctx, &split);
  EXPECT_EQ(pform->et, FormTypeErrArgumentCount);
  EXPECT_EQ(split.sStretch, "3");
  FormFree(pform);
  ctx.pszText = "Slew";
  pform = FormParse(ctx);
  EXPECT_EQ(pform->et, FormTypeErrAnonymousNeedsParen);
  FormFree(pform);
}

TEST_P(Refs, ReferencesEvaluateOnDemandAndStayCurrent) {
  ASSERT_EQ(table.Compile(), 0);
  EXPECT_EQ(table.Eval("Osc2", "Freq"), 880);
  Var* pvarFreq = table.Find("Osc1", "Freq");
  EXPECT_EQ(pvarFreq->evalState, EvalCurrent) << "pulled in through the reference";
  *pvarFreq->pvalue = 100;  // a current value is used as it is, not re-evaluated
  EXPECT_EQ(table.Eval("Osc2", "Freq"), 200);
  table.MarkStale();
  EXPECT_EQ(table.Eval("Osc1", "Gain"), 0.5);
}

TEST_P(Refs, LoopsAreReportedAndCut) {
  table.Add("Loop", "a", "b + 1");
  table.Add("Loop", "b", "a + 1");
  table.Add("Loop", "self", "self + 1");
  ASSERT_EQ(table.Compile(), 0);
  table.Find("Loop", "a")->value = 10;
  EXPECT_EQ(table.Eval("Loop", "a"), 12) << "the loop uses a's stored value";
  EXPECT_EQ(table.Find("Loop", "a")->nLoops, 1);
  table.Find("Loop", "self")->iLine = 7;
  EXPECT_EQ(table.Eval("Loop", "self"), 1);
  EXPECT_EQ(table.Eval("Loop", "self"), 2);
  ErrorList* pel = ErrorList::Get();
  ASSERT_EQ(pel->anode.N(), 2);
  EXPECT_STREQ(pel->anode[0].psz, "Loop:a - loop detected.");
  EXPECT_STREQ(pel->anode[1].psz, "Loop:self - loop detected.");
  EXPECT_EQ(pel->anode[1].iCount, 2) << "once per evaluation";
  EXPECT_EQ(pel->anode[1].iLine, 7);
}

TEST_P(Refs, OutputRoutinesComputeRecordsWithoutFormulas) {
  Var* pvar = table.Find("Osc1", "Output");
  static int nCalls;
  nCalls = 0;  // the other parameter's run in the same process counted too
  pvar->pfnOutput = [](Module*, Var* avarTable) {
    ++nCalls;
    for (Var* p = avarTable; p->pszName; ++p)
      if (std::string(p->pszModule) == "Osc1" && std::string(p->pszName) == "Output") *p->pvalue = 0.75;
  };
  ASSERT_EQ(table.Compile(), 0);
  Form* pform = Parse("Osc1 * 2");
  double d = 0;
  FormEval(pform, table.Table(), &d);
  FormEval(pform, table.Table(), &d);
  EXPECT_EQ(d, 1.5);
  EXPECT_EQ(nCalls, 1);
}

TEST_P(Refs, UnresolvedAndErrorNodesAreReportedNotEvaluated) {
  Form* pformRef = FormNewRef(-1);
  Form* pformErr = FormNewError(FormTypeErrInternal, nullptr, nullptr);
  double d = 5;
  FormEval(pformRef, table.Table(), &d);
  FormEval(pformErr, table.Table(), &d);
  EXPECT_EQ(d, 5);
  ErrorList* pel = ErrorList::Get();
  ASSERT_EQ(pel->anode.N(), 2);
  EXPECT_STREQ(pel->anode[0].psz, "bad form et 92");
  EXPECT_STREQ(pel->anode[1].psz, "field not in record");
  FormFree(pformRef);
  FormFree(pformErr);
}

INSTANTIATE_TEST_SUITE_P(Lookup, Refs, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Indexed" : "Walked"; });
