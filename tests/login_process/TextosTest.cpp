// db-lib's own errors, by number, in the login process's Spanish.
#include "login_process/Textos.h"

#include <gtest/gtest.h>

TEST(TextosDeError, DbLibNumbersAreSpanish) {
    EXPECT_EQ(login_process::textos::errorDbLib(20042),
              "un valor es demasiado largo para el registro de inicio de sesión (máximo 128 bytes).");
}
