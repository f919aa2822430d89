// The monitor's in-memory database: tables, indexes and the fixed cloud server rows,
// and the statement texts that depend on what the SQLite library offers.
//
// Thread: the connection's thread (the GUI thread). Nothing here throws.
#pragma once

#include <map>
#include <string>
#include <vector>

class TSQLiteDB;

// The fixed server names, in the order of their rows (ids 1, 2, 3).
inline constexpr const char* kServerProduction = "aws-prod-cloud";
inline constexpr const char* kServerTest = "aws-test-cloud";
inline constexpr const char* kServerDevelopment = "aws-dev-cloud";

// API host per server name (host name only, or host:port for a local simulator).
// Names that are missing or map to an empty text keep their built-in host.
using TServerHostOverrides = std::map<std::string, std::string>;

// The built-in API host of a server name; empty for an unknown name.
std::string DefaultServerHost(const std::string& serverName);

// Creates the tables brg, gw, gw_info, gw_config, accounts and servers with their
// indexes on a fresh connection, then inserts the three server rows. Results are not
// examined: on a fresh in-memory database the statements cannot fail; on anything
// else the connection's LastError and log tell what went wrong.
void CreateSchema(TSQLiteDB& database, const TServerHostOverrides& hostOverrides = {});

// The lines of the statement that stores one cloud gateway record, with parameters
// gatewayId, status, online and the record's JSON text. The record is kept in binary
// JSON (jsonb) where the library has it, else as JSON text, so the row is stored
// either way.
std::vector<std::string> GatewayRecordReplaceSQL();
