#pragma once

#include <functional>
#include <mutex>
#include <vector>

namespace login_process {

// The copies of the password a login process holds while LOGIN7 is on its
// way: its own and db-lib's LOGINREC. The relay wipes them all from its
// thread the moment it has passed LOGIN7 on, while db-lib still waits in
// dbopen for the reply; each owner takes its copy back before letting it go.
class CopiasContrasena {
public:
    // A copy, and how to wipe it; wiped at once when LOGIN7 has already gone.
    // Returns its number, for retira().
    int anota(std::function<void()> borra);
    // The copy is going away with its owner (who wipes it): no longer wiped here.
    void retira(int numero);
    // Wipes every copy noted; those noted later are wiped as they come.
    void borraTodas();

private:
    std::mutex mutex_;
    std::vector<std::function<void()>> copias_;
    bool borradas_ = false;
};

} // namespace login_process
