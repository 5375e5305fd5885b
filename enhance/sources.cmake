# Sources of the image enhancement stages.
