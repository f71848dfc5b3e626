# Tests of the effects and operator group: delay, adder, operator network.
vantrel_test(fx_tests SOURCES fx_delay_test.cpp fx_operators_test.cpp fx_registration_test.cpp
             LIBS "$<LINK_LIBRARY:WHOLE_ARCHIVE,mod_fx>")
