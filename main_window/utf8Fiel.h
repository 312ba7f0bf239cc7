#pragma once

#include <QString>
#include <string>

// UTF-8 of what the box holds, unit for unit: a lone surrogate (which a
// pasted text can hold) is written as its own three bytes instead of being
// replaced, so that the connection object sees it and refuses the value
// rather than sending another one.
std::string utf8Fiel(const QString& texto);
