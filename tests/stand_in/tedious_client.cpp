#include "tests/stand_in/tedious_client.h"

#include "tests/stand_in/process_runner.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>

namespace stand_in::testing {

bool tediousInstalled() {
    struct stat info {};
    return ::stat(TEDIOUS_MODULE_DIR "/package.json", &info) == 0;
}

TediousVerdict tediousChecksCertificate(const std::string& server, std::uint16_t port,
                                        const std::string& caFile, const std::string& user,
                                        const std::string& password) {
    std::map<std::string, std::string> entorno;
    if (!caFile.empty())
        entorno["NODE_EXTRA_CA_CERTS"] = caFile;
    const ProcessResult r =
        runProcess({NODE_PROGRAM, TEDIOUS_LOGIN_SCRIPT, "--port", std::to_string(port), "--server", server,
                    "--user", user, "--password", password, "--tds", "7_4", "--check-certificate"},
                   entorno, "", std::chrono::seconds(15));
    TediousVerdict verdict;
    verdict.output = r.output;
    // One JSON line; anything else (a crash, a timeout) is a failure that says what was printed.
    const auto json = nlohmann::json::parse(r.output, nullptr, false);
    if (r.exitCode != 0 || !json.is_object()) {
        verdict.error =
            "tedious_login.js did not report (exit " + std::to_string(r.exitCode) + "): " + r.output;
        return verdict;
    }
    verdict.connected = json.value("connected", false);
    if (json.contains("error") && json["error"].is_string())
        verdict.error = json["error"].get<std::string>();
    return verdict;
}

} // namespace stand_in::testing
