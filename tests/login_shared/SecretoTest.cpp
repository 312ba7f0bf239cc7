// A password leaves none of its bytes behind where it was: not in an object
// that is gone, moved from or assigned over, nor in the string it was taken
// from. Short passwords live inside the object itself (the string's inline
// buffer), so what is left there can be read where the object was built.
#include "login_shared/Secreto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <string_view>

using login_shared::Secreto;

namespace {

const std::string kClave = "Cl4ve-corta"; // short enough to stay inline
// What a string leaves of it once its first bytes are overwritten (moved from, assigned a shorter one).
const std::string kCola = kClave.substr(kClave.size() - 6);

// Room for one object, kept after it is gone; filled with a mark first.
template <typename T> struct Lugar {
    alignas(T) unsigned char bytes[sizeof(T)];
    Lugar() { std::memset(bytes, '#', sizeof bytes); }
    T& objeto() { return *std::launder(reinterpret_cast<T*>(bytes)); }
    bool tieneCola() const {
        return std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes).find(kCola) !=
               std::string_view::npos;
    }
};

} // namespace

TEST(Secreto, NoCopyOfThePasswordIsLeftWhereItWas) {
    struct Caso {
        const char* nombre;
        // Does what the case names; true when the password's bytes are still where they were.
        std::function<bool()> quedaCopia;
    };
    const Caso casos[] = {
        {"destroyed",
         [] {
             Lugar<Secreto> l;
             new (l.bytes) Secreto(kClave);
             l.objeto().~Secreto();
             return l.tieneCola();
         }},
        {"moved from",
         [] {
             Lugar<Secreto> l;
             new (l.bytes) Secreto(kClave);
             const Secreto destino(std::move(l.objeto()));
             const bool queda = l.tieneCola();
             l.objeto().~Secreto();
             return queda || destino.texto() != kClave;
         }},
        {"assigned over by a copy",
         [] {
             Lugar<Secreto> l;
             new (l.bytes) Secreto(kClave);
             const Secreto otro(std::string("x"));
             l.objeto() = otro;
             const bool queda = l.tieneCola();
             l.objeto().~Secreto();
             return queda;
         }},
        {"assigned over by a move",
         [] {
             Lugar<Secreto> l;
             new (l.bytes) Secreto(kClave);
             l.objeto() = Secreto(std::string("x"));
             const bool queda = l.tieneCola();
             l.objeto().~Secreto();
             return queda;
         }},
        {"the string it was taken from",
         [] {
             Lugar<std::string> l;
             new (l.bytes) std::string(kClave);
             const Secreto s(std::move(l.objeto()));
             const bool queda = l.tieneCola();
             l.objeto().~basic_string();
             return queda || s.texto() != kClave;
         }},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        EXPECT_FALSE(c.quedaCopia());
    }
}
