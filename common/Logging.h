#pragma once

#include <QLoggingCategory>
#include <exception>
#include <string>

// Diagnostics that have no operator to show them to (a background thread ending, a clean-up
// that failed while another error was on its way) go to Qt's message log under these
// categories, so that a service person finds them in the program's standard error or the
// system journal (QT_LOGGING_RULES selects them).
Q_DECLARE_LOGGING_CATEGORY(lcSerialLink)
Q_DECLARE_LOGGING_CATEGORY(lcJobData)
Q_DECLARE_LOGGING_CATEGORY(lcConsole)

namespace velkor {

// The message an exception carries, for a log line; "unknown error" for one that is not a
// std::exception.
std::string describeException(std::exception_ptr error);

}  // namespace velkor
