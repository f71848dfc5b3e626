# The effects and operator group: the delay line, the additive bank and the operator network.
vantrel_module_group(mod_fx delay.cpp adder.cpp fmalgo.cpp)
