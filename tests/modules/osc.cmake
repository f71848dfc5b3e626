# Tests of the oscillator group: oscillators and LFOs, noise, pitch.
vantrel_test(osc_tests
  SOURCES oscillator_test.cpp oscillator_lanes_test.cpp noise_test.cpp pitch_test.cpp
  LIBS "$<LINK_LIBRARY:WHOLE_ARCHIVE,mod_osc>")
