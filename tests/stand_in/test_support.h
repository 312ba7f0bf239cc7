#pragma once

#include "tests/stand_in/process_runner.h"
#include "tests/stand_in/server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace stand_in::testing {

inline const std::string saPassword = "Secr3t!";
inline const std::string unicodePassword = "ñó€😀;\"'";

// The server most tests talk to: one SQL login, one database besides master.
inline Config standardConfig() {
    Config config;
    config.logins = {{"sa", saPassword}, {"ana", unicodePassword}};
    config.databases = {"Ventas"};
    return config;
}

struct TsqlLogin {
    TsqlLogin(std::string version_, std::string user_, std::string password_, std::string database_ = "")
        : version(std::move(version_)), user(std::move(user_)), password(std::move(password_)),
          database(std::move(database_)) {}

    std::string version; // TDSVER
    std::string user;
    std::string password;
    std::string database;
};

// FreeTDS's own command-line client; it prints "1>" once logged in and server messages as
// "Msg N (severity S, state T) from SERVER Line L:".
inline ProcessResult runTsql(std::uint16_t port, const TsqlLogin& login) {
    std::vector<std::string> argv = {TSQL_PROGRAM, "-H", "127.0.0.1",   "-p", std::to_string(port), "-U",
                                     login.user,   "-P", login.password};
    if (!login.database.empty()) {
        argv.push_back("-D");
        argv.push_back(login.database);
    }
    return runProcess(argv, {{"TDSVER", login.version}, {"LANG", "C.UTF-8"}, {"LC_ALL", "C.UTF-8"}}, "quit\n",
                      std::chrono::seconds(10));
}

inline bool tsqlLoggedIn(const ProcessResult& result) {
    return result.output.find("1> ") != std::string::npos &&
           result.output.find("There was a problem connecting") == std::string::npos;
}

// Started in the constructor, stopped (and checked for leftovers) by the fixture's TearDown.
class StandInTest : public ::testing::Test {
protected:
    void startServer(Config config = standardConfig()) {
        server_ = std::make_unique<Server>(std::move(config));
        server_->start();
    }

    void TearDown() override {
        if (server_)
            server_->stop();
    }

    Server& server() { return *server_; }

    LoginRecord onlyLogin() {
        const auto received = server_->logins();
        EXPECT_EQ(received.size(), 1u);
        return received.empty() ? LoginRecord{} : received.front();
    }

private:
    std::unique_ptr<Server> server_;
};

} // namespace stand_in::testing
