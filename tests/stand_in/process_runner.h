#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace stand_in::testing {

struct ProcessResult {
    int exitCode = -1;
    bool timedOut = false;
    std::string output; // stdout and stderr interleaved
};

// Runs a program with extra environment variables and the given stdin, killing it after `timeout`.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                         const std::string& input, std::chrono::milliseconds timeout);

} // namespace stand_in::testing
