#include "match/align.h"
