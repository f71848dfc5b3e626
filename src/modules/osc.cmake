# The oscillator group: oscillators and LFOs, white and pink noise, the pitch chain.
vantrel_module_group(mod_osc oscillator.cpp noise.cpp pitch.cpp)
