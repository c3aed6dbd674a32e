// Placeholder until the destination file reader lands.
#include "routing/destination_file.h"

namespace kelvor {

void ReadDestinationFile(const char* argument, DestinationList& list) {
  (void)argument;
  (void)list;
}

}  // namespace kelvor
