#include "tests/stand_in/dblib_client.h"

#include <algorithm>

namespace stand_in::testing {

namespace {

DbLibOutcome* current = nullptr;

int onError(DBPROCESS*, int, int dberr, int, char*, char*) {
    current->errors.push_back(dberr);
    return INT_CANCEL; // anything else makes db-lib exit() on a failed login
}

int onMessage(DBPROCESS*, DBINT number, int state, int severity, char*, char*, char*, int) {
    current->messages.push_back({static_cast<int>(number), state, severity});
    return 0;
}

} // namespace

DbLibOutcome dbLibLogin(const DbLibAttempt& attempt) {
    static const bool initialised = [] {
        dbinit();
        dberrhandle(onError);
        dbmsghandle(onMessage);
        return true;
    }();
    (void)initialised;

    DbLibOutcome outcome;
    current = &outcome;
    LOGINREC* login = dblogin();
    DBSETLUSER(login, attempt.user.c_str());
    DBSETLPWD(login, attempt.password.c_str());
    DBSETLAPP(login, "stand_in_tests");
    DBSETLCHARSET(login, "UTF-8");
    if (!attempt.database.empty())
        DBSETLDBNAME(login, attempt.database.c_str());
    DBSETLVERSION(login, attempt.version);
    dbsetlogintime(attempt.loginTimeout);

    const auto started = std::chrono::steady_clock::now();
    DBPROCESS* process = dbopen(login, attempt.server.c_str());
    outcome.elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    if (process) {
        outcome.connected = true;
        outcome.tds = dbtds(process);
        outcome.database = dbname(process);
        outcome.spid = dbspid(process);
        dbclose(process);
    }
    dbloginfree(login);
    current = nullptr;
    return outcome;
}

bool DbLibOutcome::hasError(int number) const {
    return std::count(errors.begin(), errors.end(), number) > 0;
}

bool DbLibOutcome::hasMessage(int number, int state, int severity) const {
    return std::any_of(messages.begin(), messages.end(), [&](const ServerMessage& m) {
        return m.number == number && m.state == state && m.severity == severity;
    });
}

} // namespace stand_in::testing
