#pragma once

#include "support/sim_harness.h"
