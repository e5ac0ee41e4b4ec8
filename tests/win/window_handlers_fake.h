// Stand-ins for the step logic of Main in the window tests: each handler
// only counts its calls and runs what the test asks of it, so the tests see
// exactly which events the window delivered.
#pragma once

#include <functional>
#include <map>
#include <string>

struct HandlerLog {
    std::map<std::string, int> calls;
    // What the password generator of Form_Load does: gives a password, gives
    // none (the system's generator failed) or throws.
    enum class Random { Works, Fails, Throws } random = Random::Works;
    // Runs inside the handler named; may change the model or throw.
    std::function<void(const std::string&)> action;

    int operator[](const std::string& name) const
    {
        const auto found = calls.find(name);
        return found == calls.end() ? 0 : found->second;
    }
    void Reset()
    {
        calls.clear();
        action = nullptr;
        random = Random::Works;
    }
};

HandlerLog& Handlers();
