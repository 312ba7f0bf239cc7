#pragma once

namespace login_process {

// Descriptors this process holds now; negative when /proc cannot tell.
int descriptoresAbiertos();

// Throws ErrorConexion naming the system's limit when fewer descriptors are
// left under it than one login may hold at once.
void compruebaDescriptoresLibres();

} // namespace login_process
