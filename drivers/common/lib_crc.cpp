#include "lib_crc.h"
