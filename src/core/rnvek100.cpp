#include "rnvek100.h"
