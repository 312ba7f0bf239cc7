#pragma once

#include <cstdint>
#include <string>

namespace stand_in {

// Binds a numeric IPv4/IPv6 address. Port 0 picks a free one; `boundPort` gets the actual port.
// Throw std::runtime_error with the reason when the address cannot be bound.
int openListeningSocket(const std::string& address, std::uint16_t port, std::uint16_t& boundPort,
                        int backlog = 64);
int openUdpSocket(const std::string& address, std::uint16_t port, std::uint16_t& boundPort);

// Blocks until `fd` is readable. False once `wakeFd` is readable instead (its owner is stopping)
// or poll fails.
bool waitReadable(int fd, int wakeFd);

} // namespace stand_in
