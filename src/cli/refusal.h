#pragma once

#include "plan/launch_plan.h"

// Writes why a launch does not go on: the message on standard error, then the listing (when there
// is one) on standard output.
void tell(const LaunchRefusal& refusal);
