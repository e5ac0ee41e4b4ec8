#pragma once

// One attempt to open a connection to the local default instance with
// Windows authentication; closed again at once.
bool TestSqlConnection() noexcept;

inline constexpr char kSqlConnectionString[] =
    "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
    "Initial Catalog=master;Data Source=(local)";

// The key name of the default instance's service.
inline constexpr char kSqlServiceName[] = "MSSQLSERVER";
