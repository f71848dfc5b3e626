vantrel_module_group(mod_scope scope.cpp)
