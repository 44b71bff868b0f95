#include "machine/machine.h"
