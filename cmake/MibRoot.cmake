# The agent's subtree is 1.3.6.1.4.1.<enterprise number>.2.47.  The enterprise
# number is written once, in the MIB module; the build reads it from there.
# Setting LORVETH_ENTERPRISE_NUMBER builds for another number: the agent then
# serves that subtree, and the MIB module that the build writes into
# <build>/mibs/ (and installs) names it.  Everything else takes the number from
# the build: code through MibRoot.h, scripts through <build>/mibs/root-oid.

set(LORVETH_MIB_SOURCE ${PROJECT_SOURCE_DIR}/mibs/LORVETH-THRESHOLD-MIB.txt)
set(LORVETH_ENTERPRISE_NUMBER "" CACHE STRING
    "Private enterprise number of the MIB root (empty: the one the MIB module names)")

file(READ ${LORVETH_MIB_SOURCE} mib_text)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${LORVETH_MIB_SOURCE})
# The module identity's value: "::= { enterprises <number> <arcs...> }".
set(root_pattern "::= { enterprises ([0-9]+)(( [0-9]+)*) }")
if(NOT mib_text MATCHES "${root_pattern}")
  message(FATAL_ERROR "${LORVETH_MIB_SOURCE} names no subtree under enterprises")
endif()
set(mib_enterprise_number ${CMAKE_MATCH_1})
string(REPLACE " " "." mib_root_arcs "${CMAKE_MATCH_2}")

if(LORVETH_ENTERPRISE_NUMBER STREQUAL "")
  # A plain variable of the same name shadows the empty cache entry.
  set(LORVETH_ENTERPRISE_NUMBER ${mib_enterprise_number})
elseif(NOT LORVETH_ENTERPRISE_NUMBER MATCHES "^[0-9]+$")
  message(FATAL_ERROR "LORVETH_ENTERPRISE_NUMBER must be a decimal number")
endif()

string(REGEX REPLACE "${root_pattern}" "::= { enterprises ${LORVETH_ENTERPRISE_NUMBER}\\2 }"
       mib_text "${mib_text}")
set(LORVETH_MIB_DIR ${PROJECT_BINARY_DIR}/mibs)
file(CONFIGURE OUTPUT ${LORVETH_MIB_DIR}/LORVETH-THRESHOLD-MIB.txt CONTENT "${mib_text}" @ONLY)
file(CONFIGURE OUTPUT ${LORVETH_MIB_DIR}/root-oid
     CONTENT "1.3.6.1.4.1.${LORVETH_ENTERPRISE_NUMBER}${mib_root_arcs}\n")
unset(mib_text)
