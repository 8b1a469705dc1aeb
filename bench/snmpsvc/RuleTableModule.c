/* A table of the threshold rule table's shape (27 columns, indexed by the
 * rule name as a length-prefixed string) held in memory and served by
 * Net-SNMP's table data helper: what an agent written directly as a MIB module
 * for snmpd would do.  Loaded into snmpd with
 *
 *   dlmod rule_table_module /path/to/rule_table_module.so
 *
 * RULE_TABLE_ROWS (default 10000) sets the row count, RULE_TABLE_OID (default
 * 1.3.6.1.4.1.55555.7.1) the table's OID; a column is <table>.1.<column>. */
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define COLUMNS 27

/* 's': OCTET STRING, 'i': INTEGER, in the order of the rule table's columns. */
static const char kColumnTypes[COLUMNS + 1] = "ssssisisssiiiiiiiisiiiiisii";

struct rule_row {
  char text[COLUMNS][32];
  long number[COLUMNS];
};

static netsnmp_tdata* g_table;
static netsnmp_handler_registration* g_registration;

static int HandleRequest(netsnmp_mib_handler* handler, netsnmp_handler_registration* reginfo,
                         netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests) {
  netsnmp_request_info* request;
  (void)handler;
  (void)reginfo;
  if (reqinfo->mode != MODE_GET) return SNMP_ERR_NOERROR;
  for (request = requests; request != NULL; request = request->next) {
    struct rule_row* row;
    netsnmp_table_request_info* info;
    int column;
    if (request->processed) continue;
    row = (struct rule_row*)netsnmp_tdata_extract_entry(request);
    info = netsnmp_extract_table_info(request);
    if (row == NULL || info == NULL || info->colnum < 1 || info->colnum > COLUMNS) {
      netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHINSTANCE);
      continue;
    }
    column = (int)info->colnum - 1;
    if (kColumnTypes[column] == 's') {
      snmp_set_var_typed_value(request->requestvb, ASN_OCTET_STR, row->text[column],
                               strlen(row->text[column]));
    } else {
      snmp_set_var_typed_integer(request->requestvb, ASN_INTEGER, row->number[column]);
    }
  }
  return SNMP_ERR_NOERROR;
}

/* Values like those of the rules bulkwalk.sh gives the threshold module. */
static void FillRow(struct rule_row* row, long i) {
  int column;
  memset(row, 0, sizeof *row);
  for (column = 0; column < COLUMNS; ++column) row->number[column] = 1;
  snprintf(row->text[0], sizeof row->text[0], "rule-%05ld", i);
  snprintf(row->text[1], sizeof row->text[1], "Rule %ld", i);
  snprintf(row->text[5], sizeof row->text[5], "cpu-load");
  snprintf(row->text[9], sizeof row->text[9], "localhost");
  snprintf(row->text[18], sizeof row->text[18], "minor-trap");
  snprintf(row->text[24], sizeof row->text[24], "%ld.%02ld", i % 100, i % 97);
  row->number[4] = 60;
  row->number[14] = i % 100;
  row->number[15] = 0;
  row->number[16] = 100;
}

void init_rule_table_module(void) {
  const char* rows_text = getenv("RULE_TABLE_ROWS");
  const char* oid_text = getenv("RULE_TABLE_OID");
  long rows = rows_text != NULL ? atol(rows_text) : 10000;
  oid table_oid[MAX_OID_LEN];
  size_t table_oid_length = MAX_OID_LEN;
  netsnmp_table_registration_info* info;
  long i;

  if (!read_objid(oid_text != NULL ? oid_text : ".1.3.6.1.4.1.55555.7.1", table_oid,
                  &table_oid_length)) {
    snmp_log(LOG_ERR, "rule_table_module: the table OID does not parse\n");
    return;
  }
  g_table = netsnmp_tdata_create_table("ruleTable", 0);
  info = SNMP_MALLOC_TYPEDEF(netsnmp_table_registration_info);
  if (g_table == NULL || info == NULL) return;
  netsnmp_table_helper_add_indexes(info, ASN_OCTET_STR, 0);
  info->min_column = 1;
  info->max_column = COLUMNS;
  for (i = 0; i < rows; ++i) {
    struct rule_row* row = SNMP_MALLOC_TYPEDEF(struct rule_row);
    netsnmp_tdata_row* table_row = netsnmp_tdata_create_row();
    if (row == NULL || table_row == NULL) return;
    FillRow(row, i);
    table_row->data = row;
    netsnmp_tdata_row_add_index(table_row, ASN_OCTET_STR, row->text[0], strlen(row->text[0]));
    netsnmp_tdata_add_row(g_table, table_row);
  }
  g_registration = netsnmp_create_handler_registration("ruleTable", HandleRequest, table_oid,
                                                        table_oid_length, HANDLER_CAN_RONLY);
  netsnmp_tdata_register(g_registration, g_table, info);
}

void deinit_rule_table_module(void) {
  if (g_registration != NULL) netsnmp_unregister_handler(g_registration);
  g_registration = NULL;
}
