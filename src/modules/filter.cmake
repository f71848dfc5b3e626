# The filter modules: multi-band kernels, the Butterworth with its limiter, three ladder models.
vantrel_module_group(mod_filter multifilter.cpp butterworth.cpp moogdirty.cpp moogss1996.cpp moogv11.cpp)
