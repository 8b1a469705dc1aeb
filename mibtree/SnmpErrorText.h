// Names of the SNMP error status codes as trace lines show them.
#pragma once

// "no error", "too big", "no such name", ... for 0 to 18; "unknown" otherwise.
const char* SnmpErrorText(int status);
