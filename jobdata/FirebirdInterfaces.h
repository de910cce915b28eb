// The client library's interfaces as the job database's code holds them: the master interface,
// a status per call, failures turned into the console's errors, and reference-counted
// interfaces released by scope. Internal to the job database; includers need the engine's
// headers, which only this library sees.
#pragma once

#include <firebird/Interface.h>

#include <utility>

#include "DatabaseErrors.h"
#include "VelkorError.h"

namespace velkor::firebird {

Firebird::IMaster* master();

// A status for one call into the client library; a failure leaves it as FbException, which
// `translated` turns into the console's error carrying the engine's message.
class Status {
  public:
    Status() : raw_(master()->getStatus()), wrapper_(raw_) {}
    ~Status() { raw_->dispose(); }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;
    Firebird::ThrowStatusWrapper* operator&() { return &wrapper_; }

  private:
    Firebird::IStatus* raw_;
    Firebird::ThrowStatusWrapper wrapper_;
};

// Whether a failure says that the connection itself is gone: the server stopped or shut the
// database down, or the network between them failed.
bool connectionGone(Firebird::IStatus* status);
// Whether a failure is a unique or primary key that another row holds already.
bool duplicateKey(Firebird::IStatus* status);

template <typename Action>
auto translated(Action&& action) {
    try {
        return action();
    } catch (const Firebird::FbException& error) {
        char text[2048];
        master()->getUtilInterface()->formatStatus(text, sizeof text, error.getStatus());
        if (connectionGone(error.getStatus())) {
            throw DatabaseConnectionLost(text);
        }
        if (duplicateKey(error.getStatus())) {
            throw DuplicateKey(text);
        }
        throw VelkorError(text);
    }
}

// Releases a reference-counted interface when it goes out of scope.
template <typename Interface>
class Held {
  public:
    explicit Held(Interface* p = nullptr) : p_(p) {}
    ~Held() {
        if (p_ != nullptr) {
            p_->release();
        }
    }
    Held(Held&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    Held& operator=(Held&& other) noexcept {
        if (this != &other) {
            if (p_ != nullptr) {
                p_->release();
            }
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    Interface* operator->() const { return p_; }
    Interface* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // After a call that frees the interface when it succeeds (commit, rollback, detach).
    void consumed() { p_ = nullptr; }

  private:
    Interface* p_;
};

}  // namespace velkor::firebird
