// SET requests on the configuration tables: each becomes one configuration
// record sent to the threshold module.
#include "threshold/ThresholdAgent.h"

int CThresholdAgent::ExecuteSET(SnmpVarBindList* /*varbinds*/, AsnInteger32* /*error_status*/,
                                AsnInteger32* /*error_index*/) {
  return 0;  // not handled yet: the MIB tree answers (its entries are read-only)
}
