// Texts both processes say: the product a server's version belongs to.
#include "login_shared/Textos.h"

#include <gtest/gtest.h>

using namespace login_shared;

TEST(VersionServidor, TheSummaryNamesTheProductAVersionBelongsTo) {
    const std::pair<const char*, const char*> casos[] = {
        {"16.0.4135", "SQL Server 2022 (16.0.4135)"},
        {"15.0.2000", "SQL Server 2019 (15.0.2000)"},
        {"14.0.1000", "SQL Server 2017 (14.0.1000)"},
        {"13.0.1601", "SQL Server 2016 (13.0.1601)"},
        {"12.0.2000", "SQL Server 2014 (12.0.2000)"},
        {"11.0.2100", "SQL Server 2012 (11.0.2100)"},
        {"10.50.1600", "SQL Server 2008 R2 (10.50.1600)"},
        {"10.0.1600", "SQL Server 2008 (10.0.1600)"},
        {"9.0.1399", "SQL Server 2005 (9.0.1399)"},
        {"17.0.100", "17.0.100"},
        {"8.0.194", "8.0.194"},
    };
    for (const auto& [version, nombre] : casos)
        EXPECT_EQ(textos::versionServidor(version), nombre);
}
