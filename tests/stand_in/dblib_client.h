#pragma once

#include "tests/stand_in/test_support.h"

#include <sybdb.h>

#include <chrono>
#include <string>
#include <vector>

namespace stand_in::testing {

struct ServerMessage {
    int number;
    int state;
    int severity;
};

struct DbLibOutcome {
    bool connected = false;
    int tds = 0;
    std::string database;
    int spid = 0;
    std::vector<int> errors; // db-lib error numbers, in order
    std::vector<ServerMessage> messages;
    std::chrono::milliseconds elapsed{0};

    bool hasError(int number) const;
    bool hasMessage(int number, int state, int severity) const;
};

struct DbLibAttempt {
    DbLibAttempt(std::string server_, int version_ = DBVERSION_73, std::string user_ = "sa",
                 std::string password_ = saPassword, std::string database_ = "", int loginTimeout_ = 2)
        : server(std::move(server_)), version(version_), user(std::move(user_)),
          password(std::move(password_)), database(std::move(database_)), loginTimeout(loginTimeout_) {}

    std::string server; // as given to dbopen: "host:port", "host\\instance"
    int version;
    std::string user;
    std::string password;
    std::string database;
    int loginTimeout; // seconds, for each read during the login
};

// One dbopen through FreeTDS db-lib, with handlers that record everything and never exit().
DbLibOutcome dbLibLogin(const DbLibAttempt& attempt);

} // namespace stand_in::testing
