# Tests of the swarm and wavetable group: the swarm, the wavetable oscillators and their helpers.
vantrel_test(wave_tests SOURCES swarm_test.cpp swo_test.cpp
             LIBS "$<LINK_LIBRARY:WHOLE_ARCHIVE,mod_wave>")
