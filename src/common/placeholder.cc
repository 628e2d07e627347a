#include "common/status.h"
