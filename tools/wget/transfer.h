// One download: the HTTP exchange through WinHTTP, the retries, and the
// writing of the body to disk as it arrives.
#pragma once

#include <string>

#include "options.h"

namespace wget {

struct Job {
    std::string address;         // as given on the command line
    std::string path;            // target file; empty for standard output
    bool continueFile = false;   // -c: continue what the file already holds
    bool appendDocument = false; // -O with several addresses: goes after the earlier ones
};

// Loads WinHTTP from the system directory and opens the session; false
// (after saying why) when that fails.
bool StartNetwork(const Options& options);

// Downloads one document, retrying as the options allow; returns the exit status.
int Fetch(const Job& job, const Options& options);

}  // namespace wget
