// Every test program built with this file runs one Firebird server for all its tests.
#include <gtest/gtest.h>

#include <stdexcept>

#include "FirebirdServer.h"

namespace velkor::test {
namespace {

FirebirdServer* sharedServer = nullptr;

// Starts the program's one server before its first test and stops it after the last.
class FirebirdServerEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { sharedServer = new FirebirdServer; }
    void TearDown() override {
        delete sharedServer;
        sharedServer = nullptr;
    }
};

}  // namespace

FirebirdServer& FirebirdServer::shared() {
    if (sharedServer == nullptr) {
        throw std::runtime_error("this test program runs no Firebird server");
    }
    return *sharedServer;
}

namespace {
[[maybe_unused]] ::testing::Environment* const kServerEnvironment =
    ::testing::AddGlobalTestEnvironment(new FirebirdServerEnvironment);
}  // namespace

}  // namespace velkor::test
