#include "Logging.h"

#include <stdexcept>
#include <utility>

Q_LOGGING_CATEGORY(lcSerialLink, "velkor.seriallink")
Q_LOGGING_CATEGORY(lcJobData, "velkor.jobdata")
Q_LOGGING_CATEGORY(lcConsole, "velkor.console")

namespace velkor {

std::string describeException(std::exception_ptr error) {
    try {
        std::rethrow_exception(std::move(error));
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace velkor
