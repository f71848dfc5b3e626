# The envelope and control group: envelopes and their stage types, slews and portamento,
# sample-and-hold, maps and tunings.
vantrel_module_group(mod_env envelope.cpp slew.cpp samplehold.cpp map.cpp)
