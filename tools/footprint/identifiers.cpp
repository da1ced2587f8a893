// Keys named by the family's invented identifiers (classes, interfaces, type
// libraries, Installer products, MMC and policy ids), from their one table.
#include "tools/footprint/footprint.h"

void AddIdentifierKeys(Footprint&) {}
