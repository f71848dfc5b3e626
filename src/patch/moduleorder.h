// The look-up order of the module kinds: a section named without a ModuleType line takes the
// first kind, in this order, whose name begins the section's name (so Slew2 finds "Slew", not
// "SlewRateLinear"). Static registration runs in no fixed order, so each kind names its place.
#pragma once

enum ModuleOrder {
  OrderAdder, OrderFilter, OrderChannel, OrderDelay, OrderDummyPatch, OrderDummyVoice, OrderDummyNote,
  OrderDummyChannel, OrderDummyPitch, OrderEnv, OrderFMAlgo, OrderFold, OrderGlobal, OrderInterface, OrderPkg, OrderMap,
  OrderTuning, OrderSubTuning, OrderMoogDirty, OrderMoogSS1996, OrderMoogV11, OrderMultiFilter, OrderNoise,
  OrderPinkNoise, OrderNote, OrderOsc, OrderLFO, OrderScope, OrderPatch, OrderPitch, OrderHold, OrderSlew,
  OrderSlewRateLinear, OrderSlewRateExponential, OrderSlewTimeLinear, OrderSlewTimeExponential, OrderPortamento,
  OrderSubPortamento, OrderSub, OrderSwarm, OrderSWO, OrderLFSWO, OrderSWOPerPatch, OrderLFSWOPerPatch, OrderVoice,
  // The envelope stage types made at start-up follow, in the order they are made.
  OrderEnvStages,
};
