#pragma once

#include <unistd.h>
#include <utility>

namespace login_shared {

// A file descriptor with one owner, closed when it goes (or when handed on with suelta()).
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    Descriptor(Descriptor&& otro) noexcept : fd_(std::exchange(otro.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& otro) noexcept {
        if (this != &otro) {
            cierra();
            fd_ = std::exchange(otro.fd_, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { cierra(); }

    int fd() const { return fd_; }
    // Hands the descriptor to a new owner; this one is left empty.
    int suelta() noexcept { return std::exchange(fd_, -1); }
    void cierra() noexcept {
        if (fd_ >= 0)
            ::close(std::exchange(fd_, -1));
    }

private:
    int fd_ = -1;
};

} // namespace login_shared
