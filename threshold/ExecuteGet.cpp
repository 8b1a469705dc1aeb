// GET and GET-NEXT of the recorded report values, fetched from the threshold
// module one record at a time.
#include "threshold/ThresholdAgent.h"

int CThresholdAgent::ExecuteGET(BYTE /*request_type*/, SnmpVarBindList* /*varbinds*/,
                                AsnInteger32* /*error_status*/, AsnInteger32* /*error_index*/) {
  return 0;  // not handled yet: the MIB tree answers (the placeholders hold 0)
}
