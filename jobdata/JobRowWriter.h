#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "JobDatabase.h"

namespace velkor {

// The rows of one job file, written in one transaction of the connection: they become durable
// and visible together at commit(), and a writer destroyed before that rolls all of them back.
// A child names its parent by the key that the parent's insert returned (the table's primary
// key, whatever its name), so a row that another workstation inserts meanwhile can never take
// the parent's place.
//
// A file's records are queued and go to the engine many at a time: one EXECUTE BLOCK carries a
// batch and up to kPiecesPerBlock pieces with up to kHolesPerGroup holes each (more holes of a
// piece take the places of further pieces) with their values bound as parameters, and takes
// each parent's key inside the block (RETURNING ... INTO), so that a block costs one round trip
// to a server however many rows it inserts. A block the engine refuses is undone whole and its
// records are sent again one at a time, so that the one it refuses is named with its line and
// its own error.
class JobRowWriter {
  public:
    static constexpr std::size_t kPiecesPerBlock = 26;
    static constexpr std::size_t kHolesPerGroup = 8;

    // A queued record that the engine refused: the error names what the engine said, line() the
    // record's line in the file. A connection lost while a block was sent is the block's first
    // record's.
    class RecordRefused : public VelkorError {
      public:
        RecordRefused(long line, const std::string& what) : VelkorError(what), line_(line) {}
        long line() const { return line_; }

      private:
        long line_;
    };

    // Fails with "Cannot perform operation -- DB is not open" when there is no connection.
    explicit JobRowWriter(JobDatabase& database);
    ~JobRowWriter();
    JobRowWriter(const JobRowWriter&) = delete;
    JobRowWriter& operator=(const JobRowWriter&) = delete;

    // A batch: its GRORDERS row and the single "VIRT" bar that all its pieces belong to.
    // Returns the bar's key.
    std::int64_t insertBatch(std::string_view name);
    // A piece of a bar; returns the piece's key.
    std::int64_t insertPiece(std::int64_t barKey, const PieceRow& piece);
    // The key of the hole type with this code, or nothing when there is none.
    std::optional<std::string> findHoleType(std::string_view code);
    void insertHole(std::int64_t pieceKey, std::string_view holeTypeKey, std::string_view position);
    // The newest bar and piece that exist (committed, or inserted by this writer), the parents
    // of the records that a file has before its first batch or piece; nothing when there is
    // none. Keys that a rolled-back insert drew belong to no row and are never returned.
    std::optional<std::int64_t> latestBarKey();
    std::optional<std::int64_t> latestPieceKey();

    // A job file of this content loaded before: when, and under which name.
    struct LoadedFile {
        std::string loaded;
        std::string fileName;
    };
    std::optional<LoadedFile> loadedBefore(std::string_view contentHash);
    void recordLoaded(std::string_view contentHash, std::string_view fileName, long pieces);
    // How many pieces of earlier imports carry a barcode of the pieces with keys from `first`
    // to `last` (this writer's): those that the new ones supersede.
    long supersededBy(std::int64_t first, std::int64_t last);

    // The records of a file, in its order: a batch (with its bar), a piece of the batch queued
    // before it, a hole of the piece queued before it. Before the file's first batch or piece,
    // pieces and holes belong to the bar and piece given as their parents (the newest there
    // are). A block is sent when it is full, and before a batch, which opens the next one.
    void queueBatch(std::string_view name, long line);
    void queuePiece(const PieceRow& piece, long line);
    void queueHole(std::string_view holeTypeKey, std::string_view position, long line);
    void setBarParent(std::int64_t barKey);
    void setPieceParent(std::int64_t pieceKey);
    // Sends what is queued; throws RecordRefused.
    void flush();
    // Once everything queued is sent: the newest bar and piece, and the first piece inserted.
    struct Parents {
        std::optional<std::int64_t> bar;
        std::optional<std::int64_t> piece;
        std::optional<std::int64_t> firstPiece;
    };
    Parents pieceKeys();

    void commit();

  private:
    enum class RecordKind {
        Batch,
        Piece,
        Hole,
        // Heads a block that no batch opens, in the batch's place; it carries the line of the
        // block's first record.
        BlockWithoutBatch,
    };
    struct Queued {
        RecordKind kind;
        long line;
        std::string text;      // the batch's name, or the hole's type key
        std::string position;  // the hole's
        PieceRow piece;
    };
    const std::string& blockSql();
    void queueRecord(Queued record);
    void sendBlock();
    void sendOneByOne();
    Parents currentParents();

    std::int64_t insertReturningKey(const std::string& sql, const std::vector<Parameter>& values);
    std::optional<std::int64_t> latestKey(JobTable table);

    JobDatabase& database_;
    std::string batchInsert_;
    std::string barInsert_;
    std::string pieceInsert_;
    std::string blockSql_;
    std::vector<Queued> queued_;  // a block: its batch (or a place for none), pieces and holes
    std::size_t groups_ = 0;      // of the block: a piece, or more holes of the last one
    std::size_t holesInGroup_ = 0;
    // Once a block has been sent, the parents live in the transaction's context; before, and
    // where the file's first records name the newest ones there are, they are given here.
    bool parentsInContext_ = false;
    Parents parents_;
    struct {
        bool bar = false;
        bool piece = false;
    } givenParents_;
    bool committed_ = false;
};

}  // namespace velkor
