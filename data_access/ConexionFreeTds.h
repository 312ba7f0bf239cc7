#pragma once

#include "data_access/Conexion.h"
#include "data_access/CuadrillaLogins.h"
#include "data_access/LoginHijo.h"
#include "login_shared/Peticion.h"

#include <chrono>
#include <optional>

namespace data_access {

using login_shared::Plazo;
using login_shared::TablaResolucion;

// The connection object: "SQLNCLI" logs in with TDS 7.2, "SQLNCLI10" with
// TDS 7.3, through FreeTDS's db-lib, over TCP only. Each login runs in a
// process of its own, so that the open keeps its deadline whatever the
// network does.
class ConexionFreeTds final : public Conexion {
public:
    static constexpr std::chrono::seconds kTiempoEsperaPorDefecto{15};

    // `plazoDesdeElProceso` and `cuadrilla`: see LoginHijo::lanza.
    // `archivoCa`: PEM file of CAs that a generation checking certificates trusts besides the system's;
    // `juzgaParaResumen`: the summary says whether a current driver would take the server's certificate.
    explicit ConexionFreeTds(std::chrono::milliseconds tiempoEsperaPorDefecto = kTiempoEsperaPorDefecto,
                             bool plazoDesdeElProceso = false,
                             std::shared_ptr<CuadrillaLogins> cuadrilla = nullptr, std::string archivoCa = {},
                             bool juzgaParaResumen = true);
    ~ConexionFreeTds() override;

    void setConnectionString(const std::string& connectionString) override;
    std::string connectionString() const override { return cadena_; }
    void open() override;
    void close() override;
    bool isOpen() const override { return login_.has_value(); }
    std::string resumenApertura() const override { return resumen_; }
    std::optional<DatosApertura> datosApertura() const override { return datos_; }

    // For tests: names answered without the system's resolver (see TablaResolucion).
    void setResolucionFija(TablaResolucion tabla) { resolucionFija_ = std::move(tabla); }

private:
    // `inicio`: when open() began, which the deadline counts from.
    void iniciaLogin(Plazo::Reloj::time_point inicio);

    std::string cadena_;
    std::chrono::milliseconds tiempoEsperaPorDefecto_;
    bool plazoDesdeElProceso_;
    std::shared_ptr<CuadrillaLogins> cuadrilla_; // outlives the login it lends a worker to
    TablaResolucion resolucionFija_;
    std::string archivoCa_;
    bool juzgaParaResumen_; // the summary says whether a current driver would take the certificate
    std::optional<LoginHijo> login_;
    std::string resumen_;
    std::optional<DatosApertura> datos_;
};

// The same, with another default for the open's timeout ("Connect Timeout"
// in the string still wins). `plazoDesdeElProceso`: the timeout counts from
// when the login's process is had, not while the open waits for it behind
// others (many opens at once, as tarpelino-lote makes them). With a
// `cuadrilla`, an estate run's, its logins run in that crew's workers rather
// than in a process of their own each.
std::unique_ptr<Conexion> nuevaConexion(std::chrono::milliseconds tiempoEsperaPorDefecto,
                                        bool plazoDesdeElProceso = false,
                                        std::shared_ptr<CuadrillaLogins> cuadrilla = nullptr,
                                        std::string archivoCa = {}, bool juzgaParaResumen = true);

} // namespace data_access
