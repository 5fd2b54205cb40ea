#pragma once
#include "support/temp_dir.h"  // moved; kept for older includes
