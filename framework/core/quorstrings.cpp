#include "quorstrings.h"
