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
            dropWaiting(cp1251("Консоль закрывается"));
            break;
        }
        const std::optional<std::string> next = std::move(waiting_.front());
        waiting_.pop_front();
        waitingChanged_();
        try {
            run(next);
        } catch (const EComPort& error) {
            // The line itself failed: nothing waiting could go out either.
            if (const std::size_t dropped = waiting_.size(); dropped > 0) {
                parts_.log.append(cp1251("Отправка прервана ошибкой; не отправлено сканов и "
                                         "нажатий \"Import size\", ждавших очереди: ") +
                                  std::to_string(dropped));
                dropWaiting(error.what());
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

void DispatchQueue::dropWaiting(const std::string& why) {
    for (const std::optional<std::string>& dropped : waiting_) {
        parts_.ledger.dropped(dropped, why);
    }
    waiting_.clear();
}

// A scan is looked up and shown first; then the fields go out as they stand. The dispatch goes
// on record just before its first pause ends, and its end once it has one.
void DispatchQueue::run(const std::optional<std::string>& scan) {
    // The pause before the first position counts from here: the operator's Enter for a scan
    // that found the line idle, the end of the dispatch before for one that waited.
    const Clock::TimePoint begun = parts_.clock.now();
    DispatchLedger::Begun dispatch{scan, std::nullopt, std::nullopt};
    std::optional<std::string> key;
    DispatchSteps steps{
        closing_, [&](const std::string& command) { parts_.ledger.sent(key.value(), command); }};
    bool sending = false;
    try {
        if (scan) {
            lookUp(*scan, dispatch);
        }
        requireVariables(parts_.variables, {"Qty_Imp_mm", "L_upor"});
        key = parts_.ledger.begin(dispatch);
        sending = true;
        // Closing stops the piece before its next position, so that the shutdown's request for
        // the count is the last command on the line.
        if (const std::size_t unsent = dispatchPositions(fields_, parts_.variables, parts_.line,
                                                         parts_.clock, begun, &steps)) {
            parts_.log.append(cp1251("Консоль закрывается; позиций детали не отправлено: ") +
                              std::to_string(unsent));
            parts_.ledger.end(*key, DispatchOutcome::Stopped, static_cast<int>(steps.field) + 1,
                              cp1251("Консоль закрывается"));
        } else if (scan && !dispatch.piece) {
            parts_.ledger.end(*key, DispatchOutcome::Failed, 0,
                              cp1251("Деталь ") + *scan + cp1251(" не найдена: позиций нет"));
        } else {
            parts_.ledger.end(*key, DispatchOutcome::Sent, 0, {});
        }
    } catch (const std::exception& error) {
        if (!key) {
            key = parts_.ledger.begin(dispatch);
        }
        parts_.ledger.end(*key, sending ? DispatchOutcome::Stopped : DispatchOutcome::Failed,
                          sending ? static_cast<int>(steps.field) + 1 : 0, error.what());
        throw;
    }
}

// The scan shows at once with empty fields, also when it is no barcode or the lookup fails;
// a piece's positions (up to eight) fill the fields.
void DispatchQueue::lookUp(const std::string& scan, DispatchLedger::Begun& dispatch) {
    ShownScan shown{scan};
    fields_ = shown.fields;
    FoundPiece piece;
    try {
        const std::string barcode = barcodeOfScan(scan);
        dispatch.barcode = std::stoll(barcode);
        piece = parts_.database.readPiece(barcode);
    } catch (...) {
        shown_(shown);
        throw;
    }
    dispatch.piece = piece.id;
    const auto& positions = piece.positions;
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
