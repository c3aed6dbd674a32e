// Destinations listed in a file named by a FILE argument.
#pragma once

#include "routing/destination_list.h"

namespace kelvor {

// Reads the file named after the first "=" of `argument` and appends a destination for
// each of its lines to `list`.
void ReadDestinationFile(const char* argument, DestinationList& list);

}  // namespace kelvor
