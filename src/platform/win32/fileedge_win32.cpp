#include "fileedge.h"
