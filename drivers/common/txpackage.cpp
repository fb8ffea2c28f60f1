#include "txpackage.h"
