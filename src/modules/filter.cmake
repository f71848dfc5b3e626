# The filter modules: multi-band kernels, the Butterworth with its limiter, three ladder models.
vantrel_module_group(mod_filter multifilter.cpp butterworth.cpp moogdirty.cpp moogss1996.cpp moogv11.cpp)
# MoogDirty's ladder has a build with FMA: its own arithmetic must stay as written there too, so the
# compiler fuses no multiply-add on its own.
set_source_files_properties(moogdirty.cpp PROPERTIES COMPILE_OPTIONS -ffp-contract=off)
