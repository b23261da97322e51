#include "resample.h"
