# Sources of the skeleton and minutia stages.
