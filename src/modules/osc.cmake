# The oscillator group: oscillators and LFOs, white and pink noise, the pitch chain.
vantrel_module_group(mod_osc oscillator.cpp noise.cpp pitch.cpp)
# The oscillators of several voices run in vectors built with FMA: the arithmetic must stay as
# written there, so the compiler fuses no multiply-add on its own.
set_source_files_properties(oscillator.cpp PROPERTIES COMPILE_OPTIONS -ffp-contract=off)
