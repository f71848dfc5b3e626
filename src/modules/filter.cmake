# The filter modules: multi-band kernels, the Butterworth with its limiter, three ladder models.
vantrel_module_group(mod_filter multifilter.cpp butterworth.cpp moogdirty.cpp moogss1996.cpp moogv11.cpp)
# MoogDirty inlines VanTanh, which must stay the C library's tanh bit for bit: no fused multiply-adds
# but its own.
set_source_files_properties(moogdirty.cpp PROPERTIES COMPILE_OPTIONS -ffp-contract=off)
