#pragma once

#include <exception>
#include <functional>
#include <string>
#include <utility>

namespace velkor {

// The console's title, shown as the caption of its message boxes.
inline constexpr const char* kApplicationTitle = "Velkor QN704";

// The message as the standard error box shows it: a full stop is appended when the last
// character sorts after the full stop (letters and digits do; ")" and "." do not).
std::string errorBoxText(const std::string& message);

// The standard error box: the message, the application title as caption, an error icon and an
// OK button. The one way a failure reaches the operator.
void showErrorBox(const std::string& message);

// Told of every message a box of the console shows, as it shows it, so that the console can
// keep it on record (its journal); one at a time, for the window that set it.
void setShownMessageObserver(std::function<void(const std::string& message)> observer);
void noteShownMessage(const std::string& message);

// Shows the error that `error` carries in the standard error box.
void reportException(std::exception_ptr error);

// Wraps an event handler so that what it raises is shown in the standard error box where the
// handler was entered; the window then goes on. Every handler the windows connect goes
// through it.
template <typename Handler>
auto guarded(Handler handler) {
    return [handler = std::move(handler)] {
        try {
            handler();
        } catch (...) {
            reportException(std::current_exception());
        }
    };
}

}  // namespace velkor
