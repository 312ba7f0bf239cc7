#pragma once

#include "data_access/ArranqueLogin.h"

namespace data_access {

// Login processes started ahead of time, at most one per generation, so that
// an open does not wait for a process to start and load its libraries
// (GnuTLS, Kerberos, db-lib: most of an open's own cost on a fast network).
// Each still serves one login only, and is used only by an open whose
// profile (TLS versions, environment, working directory) it was started with.

// The waiting process with this profile if it is still alive,
// else a new one; throws ErrorConexion if none can be started.
ProcesoArrancado tomaProcesoLogin(const PerfilArranque& perfil);

// Starts a process for the next open with this profile, unless one
// is already waiting. A failure here is left for that open to meet.
void reponeProcesoLogin(const PerfilArranque& perfil) noexcept;

// A process told to close its login: reaped once it has ended, and killed
// if it has not within two seconds.
void entregaProcesoQueTermina(pid_t pid) noexcept;

// Ends every waiting process and waits for every closing one: at exit, or
// where children are counted.
void terminaProcesosEnEspera() noexcept;

} // namespace data_access
