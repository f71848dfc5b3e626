vantrel_test(scope_tests SOURCES scope_test.cpp LIBS "$<LINK_LIBRARY:WHOLE_ARCHIVE,mod_scope>")
