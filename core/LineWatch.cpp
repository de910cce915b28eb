#include "LineWatch.h"

#include "ComPortText.h"
#include "Text.h"

namespace velkor {

LineWatch::LineWatch(TCustomComPort& port, TComDataPacket& packets, EventLog& log,
                     std::function<void()> opened, std::function<void()> changed)
    : port_(port),
      packets_(packets),
      log_(log),
      opened_(std::move(opened)),
      changed_(std::move(changed)),
      status_(port.LineStatus()),
      listener_(port.addLineStatusListener([this] { takeNote(); })) {}

LineWatch::~LineWatch() {
    port_.removeLineStatusListener(listener_);
}

std::string LineWatch::statusText() const {
    return LineStatusText(status_);
}

void LineWatch::takeNote() {
    const TLineStatus status = port_.LineStatus();
    if (status == TLineStatus::Lost && status_ == TLineStatus::Closed) {
        waiting_ = Waiting::ForFirstOpen;
        log_.append(cp1251("Порт ") + port_.Port() + cp1251(" не открывается (") +
                    port_.ReconnectError() +
                    cp1251("): консоль откроет его, как только он станет доступен"));
    } else if (status == TLineStatus::Lost && status_ != TLineStatus::Lost) {
        waiting_ = Waiting::ForReturn;
        log_.append(cp1251("Связь с контроллером потеряна: ") + port_.Port());
        packets_.Framer().ResetBuffer();
    } else if (status == TLineStatus::Open && status_ == TLineStatus::Lost) {
        log_.append(cp1251(waiting_ == Waiting::ForFirstOpen
                               ? "Связь с контроллером установлена: "
                               : "Связь с контроллером восстановлена: ") +
                    port_.Port());
        waiting_ = Waiting::No;
    } else if (status == TLineStatus::Closed) {
        waiting_ = Waiting::No;
    }
    status_ = status;
    if (status == TLineStatus::Open && opened_) {
        opened_();
    }
    if (changed_) {
        changed_();
    }
}

}  // namespace velkor
