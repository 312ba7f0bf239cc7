#pragma once

#include <string>

namespace probe {

// The connection string of one probe is set in two steps (base, then the
// credentials appended to what the connection object gives back), so it is
// composed in two parts. All texts are UTF-8.

// "Provider=…;Server=…;Database=…;DataTypeCompatibility=80;"
std::string cadenaBase(const std::string& proveedor, const std::string& servidor,
                       const std::string& baseDatos);

// "User ID=…;Password=…;" for a non-empty user, else "Integrated Security=SSPI;".
std::string sufijoCredenciales(const std::string& usuario, const std::string& password);

// One value as it goes after "Key=": unchanged unless the connection string
// syntax would cut or alter it (a ";", a leading quote, leading or trailing
// blanks, a leading "="); such a value goes inside double quotes with inner ones doubled.
std::string valorCadena(const std::string& valor);

} // namespace probe
