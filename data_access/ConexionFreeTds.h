#pragma once

#include "Conexion.h"
#include "SesionFreeTds.h"

#include <chrono>

namespace data_access {

struct Ajustes;
struct DireccionServidor;
class Plazo;
struct Proveedor;

// The connection object: "SQLNCLI" logs in with TDS 7.2, "SQLNCLI10" with
// TDS 7.3, through FreeTDS's db-lib, over TCP only.
class ConexionFreeTds final : public Conexion {
public:
    static constexpr std::chrono::seconds kTiempoEsperaPorDefecto{15};

    explicit ConexionFreeTds(std::chrono::milliseconds tiempoEsperaPorDefecto = kTiempoEsperaPorDefecto);
    ~ConexionFreeTds() override;

    void setConnectionString(const std::string& connectionString) override;
    std::string connectionString() const override { return cadena_; }
    void open() override;
    void close() override;
    bool isOpen() const override { return proceso_ != nullptr; }

private:
    PeticionSesion preparaPeticion(const Ajustes& ajustes, const Proveedor& proveedor, const DireccionServidor& direccion,
                                   const Plazo& plazo, std::string& destino) const;

    std::string cadena_;
    std::chrono::milliseconds tiempoEsperaPorDefecto_;
    ProcesoDb* proceso_ = nullptr;
};

// The same, with another default for the open's timeout ("Connect Timeout"
// in the string still wins).
std::unique_ptr<Conexion> nuevaConexion(std::chrono::milliseconds tiempoEsperaPorDefecto);

} // namespace data_access
