#include "DispatchQueue.h"

#include <algorithm>

#include "ComPortErrors.h"
#include "ControllerProtocol.h"
#include "Text.h"

namespace velkor {

void DispatchQueue::scan(std::string scan) {
    request(std::move(scan));
}

void DispatchQueue::sendFields() {
    request(std::nullopt);
}

void DispatchQueue::editField(int field, std::string text) {
    fields_.at(static_cast<std::size_t>(field)) = std::move(text);
}

// The first request runs the queue; one that comes during it, inside a pause, only joins it.
void DispatchQueue::request(std::optional<std::string> scan) {
    waiting_.push_back(std::move(scan));
    waitingChanged_();
    if (dispatching_) {
        return;
    }
    dispatching_ = true;
    struct Ending {
        DispatchQueue& queue;
        ~Ending() {
            queue.dispatching_ = false;
            queue.waitingChanged_();
        }
    } ending{*this};
    // The first failure that the queue went on after: shown once the queue is done.
    std::exception_ptr failure;
    while (!waiting_.empty()) {
        if (closing_()) {  // the console is closing: nothing more goes out
            parts_.log.append(cp1251("Консоль закрывается; не отправлено сканов и нажатий "
                                     "\"Import size\", ждавших очереди: ") +
                              std::to_string(waiting_.size()));
            waiting_.clear();
            break;
        }
        const std::optional<std::string> next = std::move(waiting_.front());
        waiting_.pop_front();
        waitingChanged_();
        try {
            run(next);
        } catch (const EComPort&) {
            // The line itself failed: nothing waiting could go out either.
            if (const std::size_t dropped = waiting_.size(); dropped > 0) {
                waiting_.clear();
                parts_.log.append(cp1251("Отправка прервана ошибкой; не отправлено сканов и "
                                         "нажатий \"Import size\", ждавших очереди: ") +
                                  std::to_string(dropped));
            }
            throw;
        } catch (const std::exception& error) {
            // A bad label or field costs only its own dispatch.
            if (!failure && waiting_.empty()) {
                throw;
            }
            parts_.log.append((next ? cp1251("Скан ") + *next : std::string("\"Import size\"")) +
                              cp1251(" не отправлен: ") + error.what());
            if (!failure) {
                failure = std::current_exception();
            }
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

// A scan is looked up and shown first; then the fields go out as they stand.
void DispatchQueue::run(const std::optional<std::string>& scan) {
    // The pause before the first position counts from here: the operator's Enter for a scan
    // that found the line idle, the end of the dispatch before for one that waited.
    const Clock::TimePoint begun = parts_.clock.now();
    if (scan) {
        lookUp(*scan);
    }
    requireVariables(parts_.variables, {"Qty_Imp_mm", "L_upor"});
    // Closing stops the piece before its next position, so that the shutdown's request for the
    // count is the last command on the line.
    if (const std::size_t unsent = dispatchPositions(fields_, parts_.variables, parts_.line,
                                                     parts_.clock, begun, closing_)) {
        parts_.log.append(cp1251("Консоль закрывается; позиций детали не отправлено: ") +
                          std::to_string(unsent));
    }
}

// The scan shows at once with empty fields, also when it is no barcode or the lookup fails;
// a piece's positions (up to eight) fill the fields.
void DispatchQueue::lookUp(const std::string& scan) {
    ShownScan shown{scan};
    fields_ = shown.fields;
    std::vector<std::optional<double>> positions;
    try {
        positions = parts_.database.readPiecePositions(barcodeOfScan(scan));
    } catch (...) {
        shown_(shown);
        throw;
    }
    for (std::size_t i = 0; i < positions.size() && i < shown.fields.size(); ++i) {
        if (positions[i]) {
            shown.fields[i] = generalText(*positions[i]);
        }
    }
    shown.noPositions = std::none_of(positions.begin(), positions.end(),
                                     [](const auto& p) { return p.has_value(); });
    fields_ = shown.fields;
    shown_(shown);
}

}  // namespace velkor
