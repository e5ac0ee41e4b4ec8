#pragma once

#include <string>

// What SQL Server setup is asked to do: the verified package it runs from,
// the quiet switch, the instance, the data directory and the sa password.
struct SetupRequest {
    std::string package;
    std::string quietSwitch;
    std::string instance;
    std::string directory;
    std::string password;
};

// The SQL Server setup command line for the request, byte for byte.
std::string SetupCommandLine(const SetupRequest& request);
