# The swarm and wavetable group: the detuned oscillator swarm, the wavetable oscillators and
# their per-patch table builders.
vantrel_module_group(mod_wave swarm.cpp swo.cpp swoperpatch.cpp)
