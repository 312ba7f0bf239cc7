#pragma once

#include <string>
#include <string_view>

namespace login_process {

// The version a server gives in the VERSION option of its PRELOGIN reply
// (MS-TDS 2.2.6.5), from the reply's payload without its packet header:
// "16.0.4135" (major.minor.build). Empty when the reply has no such option
// or the option table does not hold together.
std::string versionDelPrelogin(std::string_view carga);

} // namespace login_process
