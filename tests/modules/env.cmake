# Tests of the envelope and control group: envelopes and stage types, slews, hold, maps.
vantrel_test(env_tests
  SOURCES envelope_test.cpp envelope_stages_test.cpp slew_test.cpp samplehold_test.cpp map_test.cpp
  LIBS "$<LINK_LIBRARY:WHOLE_ARCHIVE,mod_env>")
