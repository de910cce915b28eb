#include "FirebirdSession.h"

#include <firebird/Interface.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "AnswerWatch.h"
#include "FirebirdInterfaces.h"
#include "FirebirdMessages.h"
#include "Logging.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {

using namespace Firebird;
using namespace firebird;

namespace {

std::vector<unsigned char> connectionParameters(bool forCreate, std::chrono::milliseconds limit) {
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
    if (limit > std::chrono::milliseconds::zero()) {
        dpb->insertInt(&status, isc_dpb_connect_timeout,
                       static_cast<int>(std::chrono::ceil<std::chrono::seconds>(limit).count()));
    }
    if (forCreate) {
        dpb->insertString(&status, isc_dpb_set_db_charset, ConnectionParameters::kCharacterSet);
        dpb->insertInt(&status, isc_dpb_page_size, 8192);
    }
    const unsigned char* bytes = dpb->getBuffer(&status);
    return std::vector<unsigned char>(bytes, bytes + dpb->getBufferLength(&status));
}

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
    std::chrono::milliseconds answerLimit{0};

    // Runs a call into the client library on the attachment within the answer limit.
    template <typename Action>
    auto answered(Action&& action) {
        AnsweredWithin watch(attachment.get(), answerLimit);
        try {
            return translated(std::forward<Action>(action));
        } catch (const VelkorError& error) {
            if (watch.cut()) {
                throw DatabaseNotAnswering(cp1251("нет ответа за ") +
                                           std::to_string(answerLimit.count() / 1000) +
                                           cp1251(" с, соединение прервано"));
            }
            throw;
        }
    }

    void open(const std::string& databaseString, bool create) {
        const Utf8FileNames fileNames;
        const auto dpb = connectionParameters(create, answerLimit);
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
        qCWarning(lcJobData, "closing the job database: %s", cp1251ToUtf8(error.what()).c_str());
    }
}

void FirebirdSession::setAnswerLimit(std::chrono::milliseconds limit) {
    impl_->answerLimit = limit;
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
    impl_->answered([&] {
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
    impl_->answered([&] {
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
    impl_->answered([&] {
        Status status;
        impl_->activeTransaction()->commit(&status);
        impl_->transaction.consumed();  // a successful commit frees the interface
    });
}

void FirebirdSession::rollback() {
    impl_->answered([&] {
        Status status;
        impl_->activeTransaction()->rollback(&status);
        impl_->transaction.consumed();
    });
}

bool FirebirdSession::inTransaction() const {
    return static_cast<bool>(impl_->transaction);
}

void FirebirdSession::execute(std::string_view sql, const std::vector<Parameter>& parameters) {
    impl_->answered([&] {
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
    return impl_->answered([&] {
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
    return state_->session.answered([&] {
        return fetch(state_->statement.get(), state_->session.activeTransaction(),
                     state_->output.get(), state_->input, parameters, maxRows);
    });
}

std::optional<Row> FirebirdSession::PreparedQuery::execute(
    const std::vector<Parameter>& parameters) {
    return state_->session.answered([&]() -> std::optional<Row> {
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
    return impl_->answered([&] {
        Held<IStatement> statement(impl_->prepare(sql));
        Held<IMessageMetadata> output = buildOutput(statement.get());
        return PreparedQuery(std::unique_ptr<PreparedQuery::State>(
            new PreparedQuery::State{*impl_, std::move(statement), std::move(output), {}, {}}));
    });
}

std::string firebirdClientVersion() {
    const unsigned version = master()->getUtilInterface()->getClientVersion();
    return std::to_string(version >> 8U) + "." + std::to_string(version & 0xFFU);
}

void stopWaitingForDatabase() {
    stopWaitingForAnswers();
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
