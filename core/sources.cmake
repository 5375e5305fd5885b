# Tuning parameters, angle and rounding helpers and the minutia record:
# headers only, used by every other folder.
orvane_layer(core)
