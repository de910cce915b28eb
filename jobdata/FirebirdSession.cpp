#include "FirebirdSession.h"

#include <firebird/Interface.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <utility>

#include "Logging.h"
#include "Numbers.h"
#include "VelkorError.h"

namespace velkor {

using namespace Firebird;

namespace {

IMaster* master() {
    static IMaster* const instance = fb_get_master_interface();
    return instance;
}

// A status for one call into the client library; a failure leaves it as FbException, which
// `translated` turns into the console's error carrying the engine's message.
class Status {
  public:
    Status() : raw_(master()->getStatus()), wrapper_(raw_) {}
    ~Status() { raw_->dispose(); }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;
    ThrowStatusWrapper* operator&() { return &wrapper_; }

  private:
    IStatus* raw_;
    ThrowStatusWrapper wrapper_;
};

// Whether a failure says that the connection itself is gone: the server stopped or shut the
// database down, or the network between them failed.
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

template <typename Action>
auto translated(Action&& action) {
    try {
        return action();
    } catch (const FbException& error) {
        char text[2048];
        master()->getUtilInterface()->formatStatus(text, sizeof text, error.getStatus());
        if (connectionGone(error.getStatus())) {
            throw DatabaseConnectionLost(text);
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

std::vector<unsigned char> connectionParameters(bool forCreate) {
    Status status;
    const std::unique_ptr<IXpbBuilder, void (*)(IXpbBuilder*)> dpb(
        master()->getUtilInterface()->getXpbBuilder(&status, IXpbBuilder::DPB, nullptr, 0),
        [](IXpbBuilder* builder) { builder->dispose(); });
    dpb->insertString(&status, isc_dpb_user_name, ConnectionParameters::kUser);
    dpb->insertString(&status, isc_dpb_password, ConnectionParameters::kPassword);
    dpb->insertString(&status, isc_dpb_lc_ctype, ConnectionParameters::kCharacterSet);
    dpb->insertInt(&status, isc_dpb_sql_dialect, ConnectionParameters::kDialect);
    // File names on this system are UTF-8 whatever the connection's character set is; without
    // this a path with Cyrillic letters fails with "Cannot transliterate".
    dpb->insertTag(&status, isc_dpb_utf8_filename);
    if (forCreate) {
        dpb->insertString(&status, isc_dpb_set_db_charset, ConnectionParameters::kCharacterSet);
        dpb->insertInt(&status, isc_dpb_page_size, 8192);
    }
    const unsigned char* bytes = dpb->getBuffer(&status);
    return std::vector<unsigned char>(bytes, bytes + dpb->getBufferLength(&status));
}

// Input message: every parameter travels as nullable VARCHAR and the engine converts it to
// the type the statement expects, so quotes or any other byte in a value are plain data. A
// prepared statement keeps its message between executions and lays it out again only when a
// value outgrows its field.
class InputMessage {
  public:
    // Fills the message with the values; a statement without parameters needs none.
    void fill(IStatement* statement, const std::vector<Parameter>& parameters) {
        Status status;
        if (!laidOut_ || capacities_.size() != parameters.size() || !fitsIn(parameters)) {
            layOut(statement, parameters);
        }
        if (parameters.empty()) {
            return;
        }
        unsigned char* base = buffer_.data();
        for (unsigned i = 0; i < parameters.size(); ++i) {
            const auto& value = parameters[i];
            *reinterpret_cast<short*>(base + metadata_->getNullOffset(&status, i)) = value ? 0 : -1;
            if (value) {
                unsigned char* field = base + metadata_->getOffset(&status, i);
                const auto length = static_cast<std::uint16_t>(value->size());
                std::memcpy(field, &length, sizeof length);
                std::copy_n(value->data(), value->size(), field + sizeof length);
            }
        }
    }
    IMessageMetadata* metadata() const { return metadata_.get(); }
    unsigned char* data() { return buffer_.empty() ? nullptr : buffer_.data(); }

  private:
    static constexpr unsigned kShortestField = 32;
    static constexpr std::size_t kLongestVarchar = 32765;

    bool fitsIn(const std::vector<Parameter>& parameters) const {
        for (std::size_t i = 0; i < parameters.size(); ++i) {
            if (parameters[i] && parameters[i]->size() > capacities_[i]) {
                return false;
            }
        }
        return true;
    }

    void layOut(IStatement* statement, const std::vector<Parameter>& parameters) {
        Status status;
        Held<IMessageMetadata> described(statement->getInputMetadata(&status));
        const unsigned count = described->getCount(&status);
        if (count != parameters.size()) {
            throw VelkorError("Statement expects " + std::to_string(count) + " parameters, got " +
                              std::to_string(parameters.size()));
        }
        // Fields only grow, and the message changes only once the new layout is complete.
        std::vector<unsigned> capacities(count, kShortestField);
        for (unsigned i = 0; i < count && capacities_.size() == count; ++i) {
            capacities[i] = capacities_[i];
        }
        Held<IMessageMetadata> metadata;
        if (count > 0) {
            Held<IMetadataBuilder> builder(described->getBuilder(&status));
            for (unsigned i = 0; i < count; ++i) {
                const auto& value = parameters[i];
                if (value && value->size() > kLongestVarchar) {
                    throw VelkorError("Value of " + std::to_string(value->size()) +
                                      " bytes is longer than any text column");
                }
                capacities[i] =
                    std::max(capacities[i], value ? static_cast<unsigned>(value->size()) : 0u);
                builder->setType(&status, i, SQL_VARYING + 1);
                builder->setLength(&status, i, capacities[i]);
            }
            metadata = Held<IMessageMetadata>(builder->getMetadata(&status));
        }
        buffer_.assign(count > 0 ? metadata->getMessageLength(&status) : 0, 0);
        metadata_ = std::move(metadata);
        capacities_ = std::move(capacities);
        laidOut_ = true;
    }

    bool laidOut_ = false;
    Held<IMessageMetadata> metadata_;
    std::vector<unsigned> capacities_;  // per parameter, the longest value its field takes
    std::vector<unsigned char> buffer_;
};

// Output message: whole numbers as scaled 64-bit integers, reals as doubles, everything else as
// text, so that a column can be read as whatever its caller needs.
Held<IMessageMetadata> buildOutput(IStatement* statement) {
    Status status;
    Held<IMessageMetadata> described(statement->getOutputMetadata(&status));
    Held<IMetadataBuilder> builder(described->getBuilder(&status));
    const unsigned count = described->getCount(&status);
    for (unsigned i = 0; i < count; ++i) {
        const unsigned type = described->getType(&status, i) & ~1u;
        if (type == SQL_SHORT || type == SQL_LONG || type == SQL_INT64) {
            builder->setType(&status, i, SQL_INT64 + 1);
            builder->setLength(&status, i, sizeof(std::int64_t));
        } else if (type == SQL_FLOAT || type == SQL_DOUBLE || type == SQL_D_FLOAT) {
            builder->setType(&status, i, SQL_DOUBLE + 1);
            builder->setLength(&status, i, sizeof(double));
        } else {
            builder->setType(&status, i, SQL_VARYING + 1);
            builder->setLength(&status, i, std::max(described->getLength(&status, i), 64u));
        }
    }
    return Held<IMessageMetadata>(builder->getMetadata(&status));
}

Row decodeRow(IMessageMetadata* metadata, const unsigned char* buffer) {
    Status status;
    const unsigned count = metadata->getCount(&status);
    Row row;
    row.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        const auto* nullFlag =
            reinterpret_cast<const short*>(buffer + metadata->getNullOffset(&status, i));
        const unsigned char* field = buffer + metadata->getOffset(&status, i);
        if (*nullFlag != 0) {
            row.emplace_back();
            continue;
        }
        switch (metadata->getType(&status, i) & ~1u) {
            case SQL_INT64: {
                std::int64_t value;
                std::memcpy(&value, field, sizeof value);
                const int scale = metadata->getScale(&status, i);
                if (scale == 0) {
                    row.emplace_back(Field::Value(value));
                } else {
                    row.emplace_back(
                        Field::Value(static_cast<double>(value) * std::pow(10.0, scale)));
                }
                break;
            }
            case SQL_DOUBLE: {
                double value;
                std::memcpy(&value, field, sizeof value);
                row.emplace_back(Field::Value(value));
                break;
            }
            default: {
                std::uint16_t length;
                std::memcpy(&length, field, sizeof length);
                row.emplace_back(Field::Value(
                    std::string(reinterpret_cast<const char*>(field + sizeof length), length)));
            }
        }
    }
    return row;
}

}  // namespace

std::string Field::asText() const {
    if (const auto* text = std::get_if<std::string>(&value_)) {
        return *text;
    }
    if (const auto* whole = std::get_if<std::int64_t>(&value_)) {
        return std::to_string(*whole);
    }
    if (const auto* real = std::get_if<double>(&value_)) {
        return realText(*real);
    }
    return {};
}

std::int64_t Field::asInteger() const {
    if (const auto* whole = std::get_if<std::int64_t>(&value_)) {
        return *whole;
    }
    if (const auto* real = std::get_if<double>(&value_)) {
        return static_cast<std::int64_t>(*real);
    }
    if (const auto* text = std::get_if<std::string>(&value_)) {
        return std::strtoll(text->c_str(), nullptr, 10);
    }
    return 0;
}

double Field::asReal() const {
    if (const auto* real = std::get_if<double>(&value_)) {
        return *real;
    }
    if (const auto* whole = std::get_if<std::int64_t>(&value_)) {
        return static_cast<double>(*whole);
    }
    if (const auto* text = std::get_if<std::string>(&value_)) {
        return std::strtod(text->c_str(), nullptr);
    }
    return 0;
}

namespace {

// Read committed with record versions: every statement sees what other connections have
// committed, at once, and reading never waits for writers. A read-only one holds back nobody's
// garbage collection, however long it stays open.
std::vector<unsigned char> transactionParameters(bool readOnly) {
    Status status;
    const std::unique_ptr<IXpbBuilder, void (*)(IXpbBuilder*)> tpb(
        master()->getUtilInterface()->getXpbBuilder(&status, IXpbBuilder::TPB, nullptr, 0),
        [](IXpbBuilder* builder) { builder->dispose(); });
    tpb->insertTag(&status, isc_tpb_read_committed);
    tpb->insertTag(&status, isc_tpb_rec_version);
    tpb->insertTag(&status, readOnly ? isc_tpb_read : isc_tpb_write);
    tpb->insertTag(&status, isc_tpb_wait);
    const unsigned char* bytes = tpb->getBuffer(&status);
    return std::vector<unsigned char>(bytes, bytes + tpb->getBufferLength(&status));
}

// The client library turns a file name into the system's character set by the calling
// thread's locale; file names here are UTF-8 whatever the environment says (a service started
// without LANG has the "C" locale, where a Cyrillic folder name cannot be converted).
class Utf8FileNames {
  public:
    Utf8FileNames() : utf8_(::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {
        if (utf8_ != locale_t{}) {
            previous_ = ::uselocale(utf8_);
        }
    }
    ~Utf8FileNames() {
        if (utf8_ != locale_t{}) {
            ::uselocale(previous_);
            ::freelocale(utf8_);
        }
    }
    Utf8FileNames(const Utf8FileNames&) = delete;
    Utf8FileNames& operator=(const Utf8FileNames&) = delete;

  private:
    locale_t utf8_;
    locale_t previous_{};
};

}  // namespace

struct FirebirdSession::Impl {
    // Declared in this order so that a transaction left open is released before its attachment.
    Held<IAttachment> attachment;
    Held<ITransaction> transaction;
    bool readOnly = false;

    void open(const std::string& databaseString, bool create) {
        const Utf8FileNames fileNames;
        const auto dpb = connectionParameters(create);
        Status status;
        const Held<IProvider> provider(master()->getDispatcher());
        attachment = Held<IAttachment>(
            create ? provider->createDatabase(&status, databaseString.c_str(),
                                              static_cast<unsigned>(dpb.size()), dpb.data())
                   : provider->attachDatabase(&status, databaseString.c_str(),
                                              static_cast<unsigned>(dpb.size()), dpb.data()));
    }

    ITransaction* activeTransaction() const {
        if (!transaction) {
            throw VelkorError("No active transaction");
        }
        return transaction.get();
    }

    IAttachment* activeAttachment() const {
        if (!attachment) {
            throw VelkorError("Cannot perform operation -- DB is not open");
        }
        return attachment.get();
    }

    IStatement* prepare(std::string_view sql) {
        Status status;
        return activeAttachment()->prepare(
            &status, activeTransaction(), static_cast<unsigned>(sql.size()), sql.data(),
            ConnectionParameters::kDialect, IStatement::PREPARE_PREFETCH_METADATA);
    }
};

FirebirdSession::FirebirdSession() : impl_(std::make_unique<Impl>()) {}

FirebirdSession::~FirebirdSession() {
    try {
        detach();
    } catch (const VelkorError& error) {
        // Nothing to hand the error to here; the engine rolls back what is left.
        std::cerr << "velkor: closing the job database: " << error.what() << "\n";
    }
}

void FirebirdSession::attach(const std::string& databaseString) {
    detach();
    translated([&] { impl_->open(databaseString, false); });
}

void FirebirdSession::create(const std::string& databaseString) {
    detach();
    translated([&] { impl_->open(databaseString, true); });
}

void FirebirdSession::detach() {
    translated([&] {
        // Each interface leaves the session first, so that a failure leaves nothing half-held;
        // one whose call failed is released on the way out.
        if (impl_->transaction) {
            Status status;
            Held<ITransaction> transaction = std::move(impl_->transaction);
            transaction->commit(&status);
            transaction.consumed();
        }
        if (impl_->attachment) {
            Status status;
            Held<IAttachment> attachment = std::move(impl_->attachment);
            attachment->detach(&status);
            attachment.consumed();
        }
    });
}

bool FirebirdSession::attached() const {
    return static_cast<bool>(impl_->attachment);
}

void FirebirdSession::startTransaction(bool readOnly) {
    translated([&] {
        const auto tpb = transactionParameters(readOnly);
        Status status;
        impl_->transaction = Held<ITransaction>(impl_->activeAttachment()->startTransaction(
            &status, static_cast<unsigned>(tpb.size()), tpb.data()));
        impl_->readOnly = readOnly;
    });
}

bool FirebirdSession::readOnlyTransaction() const {
    return impl_->transaction && impl_->readOnly;
}

void FirebirdSession::abandon() {
    // Releasing the interfaces frees them here; the server, if it is still there, rolls back
    // whatever the connection left open when it notices the connection is gone.
    impl_->transaction = Held<ITransaction>();
    impl_->attachment = Held<IAttachment>();
}

void FirebirdSession::commit() {
    translated([&] {
        Status status;
        impl_->activeTransaction()->commit(&status);
        impl_->transaction.consumed();  // a successful commit frees the interface
    });
}

void FirebirdSession::rollback() {
    translated([&] {
        Status status;
        impl_->activeTransaction()->rollback(&status);
        impl_->transaction.consumed();
    });
}

bool FirebirdSession::inTransaction() const {
    return static_cast<bool>(impl_->transaction);
}

void FirebirdSession::execute(std::string_view sql, const std::vector<Parameter>& parameters) {
    translated([&] {
        Held<IStatement> statement(impl_->prepare(sql));
        InputMessage input;
        input.fill(statement.get(), parameters);
        Status status;
        statement->execute(&status, impl_->transaction.get(), input.metadata(), input.data(),
                           nullptr, nullptr);
    });
}

namespace {

std::vector<Row> fetch(IStatement* statement, ITransaction* transaction, IMessageMetadata* output,
                       InputMessage& input, const std::vector<Parameter>& parameters,
                       std::size_t maxRows) {
    input.fill(statement, parameters);
    Status status;
    Held<IResultSet> cursor(
        statement->openCursor(&status, transaction, input.metadata(), input.data(), output, 0));
    std::vector<unsigned char> buffer(output->getMessageLength(&status));
    std::vector<Row> rows;
    while (rows.size() < maxRows &&
           cursor->fetchNext(&status, buffer.data()) == IStatus::RESULT_OK) {
        rows.push_back(decodeRow(output, buffer.data()));
    }
    return rows;
}

}  // namespace

std::vector<Row> FirebirdSession::query(std::string_view sql,
                                        const std::vector<Parameter>& parameters,
                                        std::size_t maxRows) {
    return translated([&] {
        Held<IStatement> statement(impl_->prepare(sql));
        const Held<IMessageMetadata> output = buildOutput(statement.get());
        InputMessage input;
        return fetch(statement.get(), impl_->transaction.get(), output.get(), input, parameters,
                     maxRows);
    });
}

struct FirebirdSession::PreparedQuery::State {
    FirebirdSession::Impl& session;
    Held<IStatement> statement;
    Held<IMessageMetadata> output;
    InputMessage input;
    std::vector<unsigned char> outputBuffer;
};

FirebirdSession::PreparedQuery::PreparedQuery(std::unique_ptr<State> state)
    : state_(std::move(state)) {}
FirebirdSession::PreparedQuery::PreparedQuery(PreparedQuery&&) noexcept = default;
FirebirdSession::PreparedQuery::~PreparedQuery() = default;

std::vector<Row> FirebirdSession::PreparedQuery::run(const std::vector<Parameter>& parameters,
                                                     std::size_t maxRows) {
    return translated([&] {
        return fetch(state_->statement.get(), state_->session.activeTransaction(),
                     state_->output.get(), state_->input, parameters, maxRows);
    });
}

std::optional<Row> FirebirdSession::PreparedQuery::execute(
    const std::vector<Parameter>& parameters) {
    return translated([&]() -> std::optional<Row> {
        IStatement* statement = state_->statement.get();
        IMessageMetadata* output = state_->output.get();
        state_->input.fill(statement, parameters);
        Status status;
        const bool returnsRow = output->getCount(&status) > 0;
        std::vector<unsigned char>& buffer = state_->outputBuffer;
        buffer.resize(returnsRow ? output->getMessageLength(&status) : 0);
        statement->execute(&status, state_->session.activeTransaction(), state_->input.metadata(),
                           state_->input.data(), returnsRow ? output : nullptr,
                           returnsRow ? buffer.data() : nullptr);
        if (!returnsRow) {
            return std::nullopt;
        }
        return decodeRow(output, buffer.data());
    });
}

FirebirdSession::PreparedQuery FirebirdSession::prepare(std::string_view sql) {
    return translated([&] {
        Held<IStatement> statement(impl_->prepare(sql));
        Held<IMessageMetadata> output = buildOutput(statement.get());
        return PreparedQuery(std::unique_ptr<PreparedQuery::State>(
            new PreparedQuery::State{*impl_, std::move(statement), std::move(output), {}, {}}));
    });
}

void prepareFirebirdEnvironment() {
    if (std::getenv("FIREBIRD_LOCK") != nullptr) {
        return;
    }
    const std::string folder = "/tmp/velkor-firebird-" + std::to_string(::getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        // The engine reports its own error when it cannot lock the database; this says why.
        qCWarning(lcJobData, "cannot make the engine's lock folder %s: %s", folder.c_str(),
                  std::strerror(errno));
    }
    ::setenv("FIREBIRD_LOCK", folder.c_str(), 0);
}

void shutDownFirebirdEngine() {
    try {
        translated([] {
            Status status;
            const Held<IProvider> provider(master()->getDispatcher());
            provider->shutdown(&status, 0, fb_shutrsn_app_stopped);
        });
    } catch (const std::exception& error) {
        qCWarning(lcJobData, "the engine did not shut down: %s", error.what());
    }
}

}  // namespace velkor
