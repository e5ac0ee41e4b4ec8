#pragma once

#include <string>

// True when a Windows service with this key name is installed (any letter case).
bool ServiceExists(const std::string& name) noexcept;

// What the Service Control Manager says of a service right now.
enum class ServiceState {
    NotInstalled,  // no service of that key name
    Stopped,       // installed, but not running (stopped, starting, stopping, paused)
    Running,
    Unknown,       // the service manager could not be asked
};

// The state of the service of this key name, asked of the Service Control
// Manager alone (a fresh answer, not WMI's).
ServiceState QueryServiceState(const std::string& name) noexcept;
