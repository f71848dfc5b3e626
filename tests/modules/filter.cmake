# Tests of the filter modules: responses, resonance, stability, bypass and registration.
vantrel_test(filter_module_tests
             SOURCES filter_registration_test.cpp filter_butterworth_test.cpp filter_multifilter_test.cpp
                     filter_ladder_test.cpp
             LIBS "$<LINK_LIBRARY:WHOLE_ARCHIVE,mod_filter>")
# MoogDirty's ladders in vector lanes against each stepped alone: the arithmetic must stay as written.
vantrel_test(moogdirty_lanes_tests SOURCES moogdirty_lanes_test.cpp LIBS mod_filter)
set_source_files_properties(moogdirty_lanes_test.cpp PROPERTIES COMPILE_OPTIONS -ffp-contract=off)
