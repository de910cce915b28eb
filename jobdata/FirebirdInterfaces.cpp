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

bool connectionGone(IStatus* status) {
    constexpr std::intptr_t kGoneCodes[] = {isc_network_error, isc_net_read_err,
                                            isc_net_write_err, isc_lost_db_connection,
                                            isc_att_shutdown,  isc_shutdown};
    const std::intptr_t* vector = status->getErrors();
    for (std::size_t i = 0; vector[i] != isc_arg_end; i += vector[i] == isc_arg_cstring ? 3 : 2) {
        if (vector[i] == isc_arg_gds && std::find(std::begin(kGoneCodes), std::end(kGoneCodes),
                                                  vector[i + 1]) != std::end(kGoneCodes)) {
            return true;
        }
    }
    return false;
}

}  // namespace velkor::firebird
