#include "login_process/BusquedaInstancia.h"

#include <gtest/gtest.h>

using namespace login_process;

TEST(RespuestaBrowser, FindsTheTcpPortOfTheInstanceIgnoringCase) {
    auto r = leeRespuestaBrowser("ServerName;SRV;InstanceName;SQLEXPRESS;IsClustered;No;Version;15.0.2000.5;"
                                 "tcp;14360;np;\\\\SRV\\pipe\\MSSQL$SQLEXPRESS\\sql\\query;;",
                                 "sqlexpress");
    ASSERT_TRUE(r.puerto.has_value());
    EXPECT_EQ(*r.puerto, 14360);
    EXPECT_EQ(r.instancias, std::vector<std::string>{"SQLEXPRESS"});
}

TEST(RespuestaBrowser, ListsEveryInstanceOfAnAllInstancesAnswer) {
    auto r =
        leeRespuestaBrowser("ServerName;SRV;InstanceName;MSSQLSERVER;IsClustered;No;Version;15.0;tcp;1433;;"
                            "ServerName;SRV;InstanceName;OTRA;IsClustered;No;Version;15.0;tcp;2000;;",
                            "NOESTA");
    EXPECT_FALSE(r.puerto.has_value());
    EXPECT_EQ(r.instancias, (std::vector<std::string>{"MSSQLSERVER", "OTRA"}));
    EXPECT_EQ(leeRespuestaBrowser("ServerName;SRV;InstanceName;OTRA;tcp;2000;;", "otra").puerto, 2000);
}

TEST(RespuestaBrowser, AnInstanceWithoutTcpOrWithABadPortHasNoPort) {
    EXPECT_FALSE(leeRespuestaBrowser("ServerName;S;InstanceName;I;np;\\\\S\\pipe;;", "I").puerto);
    EXPECT_FALSE(leeRespuestaBrowser("ServerName;S;InstanceName;I;tcp;99999;;", "I").puerto);
    EXPECT_FALSE(leeRespuestaBrowser("garbage without separators", "I").puerto);
}
