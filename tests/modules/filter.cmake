# Tests of the filter modules: responses, resonance, stability, bypass and registration.
vantrel_test(filter_module_tests
             SOURCES filter_registration_test.cpp filter_butterworth_test.cpp filter_multifilter_test.cpp
                     filter_ladder_test.cpp
             LIBS "$<LINK_LIBRARY:WHOLE_ARCHIVE,mod_filter>")
