#include "FirebirdInterfaces.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace velkor::firebird {

using namespace Firebird;

IMaster* master() {
    static IMaster* const instance = fb_get_master_interface();
    return instance;
}

namespace {

// Whether the status vector holds one of `codes`.
template <std::size_t N>
bool holdsCode(IStatus* status, const std::intptr_t (&codes)[N]) {
    const std::intptr_t* vector = status->getErrors();
    for (std::size_t i = 0; vector[i] != isc_arg_end; i += vector[i] == isc_arg_cstring ? 3 : 2) {
        if (vector[i] == isc_arg_gds &&
            std::find(std::begin(codes), std::end(codes), vector[i + 1]) != std::end(codes)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool connectionGone(IStatus* status) {
    constexpr std::intptr_t kGoneCodes[] = {isc_network_error, isc_net_read_err,
                                            isc_net_write_err, isc_lost_db_connection,
                                            isc_att_shutdown,  isc_shutdown};
    return holdsCode(status, kGoneCodes);
}

bool duplicateKey(IStatus* status) {
    constexpr std::intptr_t kDuplicateCodes[] = {isc_unique_key_violation, isc_no_dup};
    return holdsCode(status, kDuplicateCodes);
}

}  // namespace velkor::firebird
