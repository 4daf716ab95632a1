#include "common/seams.h"

Seams seams;
