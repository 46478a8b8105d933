#include "State/SqliteStateStore.h"

#include "OVLogger.h"

#include <sqlite3.h>

#include <stdexcept>

namespace orvex::service {
namespace {

constexpr const char* kSchema =
    "PRAGMA journal_mode=WAL;"
    "PRAGMA synchronous=NORMAL;"
    "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS shares (shareId TEXT PRIMARY KEY, record TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS nodes (shareId TEXT NOT NULL, internalName TEXT NOT NULL, record TEXT NOT NULL,"
    " blobId TEXT NOT NULL, PRIMARY KEY (shareId, internalName));"
    "CREATE TABLE IF NOT EXISTS blobs (blobId TEXT PRIMARY KEY, size INTEGER NOT NULL, seed INTEGER,"
    " hash TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS uploads (address TEXT PRIMARY KEY, record TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS links (linkId TEXT PRIMARY KEY, shareId TEXT NOT NULL, internalName TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS crossings (shareId TEXT NOT NULL, internalName TEXT NOT NULL, tick INTEGER NOT NULL,"
    " position INTEGER NOT NULL, parentInside TEXT NOT NULL, PRIMARY KEY (shareId, internalName));";

} // namespace

SqliteStateStore::SqliteStateStore(const std::filesystem::path& file) : file_(file.string()) {
  std::string error;
  db_ = SqliteConnection::open(file_, &error);
  if (!db_)
    throw std::runtime_error("cannot open the state database " + file_ + ": " + error);
  db_->setBusyTimeout(5000);
  if (!db_->execute(kSchema))
    throw std::runtime_error("cannot set up the state database " + file_ + ": " + db_->lastError());
}

SqliteStateStore::~SqliteStateStore() = default;

void SqliteStateStore::run(const char* sql, const SqlValues& values) {
  SqliteStatement* statement = db_->statement(sql);
  int rc = statement == nullptr ? SQLITE_ERROR : (statement->bindAll(values) ? statement->step() : SQLITE_RANGE);
  if (rc != SQLITE_DONE && rc != SQLITE_ROW)
    OVLog(kLogMain, "Error! State database {}: \"{}\" failed: {}", file_, sql, db_->lastError());
  if (statement != nullptr)
    statement->reset();
}

template <class Row>
void SqliteStateStore::select(const char* sql, Row&& row) {
  SqliteStatement* statement = db_->statement(sql);
  if (statement == nullptr) {
    OVLog(kLogMain, "Error! State database {}: \"{}\" failed: {}", file_, sql, db_->lastError());
    return;
  }
  while (statement->step() == SQLITE_ROW) {
    try {
      row(*statement);
    } catch (const std::exception& e) { // a damaged row is left out, the rest still loads
      OVLog(kLogMain, "Warning! State database {}: skipping an unreadable row of \"{}\": {}", file_, sql, e.what());
    }
  }
  statement->reset();
}

StateSnapshot SqliteStateStore::load() {
  StateSnapshot snapshot;
  select("SELECT value FROM meta WHERE key = 'seeded'",
         [&](SqliteStatement& row) { snapshot.seeded = row.text(0) == "1"; });
  select("SELECT record FROM shares", [&](SqliteStatement& row) {
    snapshot.shares.push_back(ShareInfo::fromJson(nlohmann::json::parse(row.text(0))));
  });
  select("SELECT shareId, record, blobId FROM nodes", [&](SqliteStatement& row) {
    auto file = OVVirtualFile::fromJSONText(row.text(1));
    if (!file || !file->InternalName)
      throw std::runtime_error(file ? "node without an internal name" : file.error());
    snapshot.nodes.emplace_back(row.text(0), StoredNode{std::move(file.value()), row.text(2)});
  });
  select("SELECT blobId, size, seed, hash FROM blobs", [&](SqliteStatement& row) {
    BlobInfo blob{row.text(0), row.int64(1), std::nullopt, row.text(3)};
    if (!row.isNull(2))
      blob.seed = static_cast<std::uint64_t>(row.int64(2));
    snapshot.blobs.push_back(std::move(blob));
  });
  select("SELECT record FROM uploads", [&](SqliteStatement& row) {
    snapshot.uploads.push_back(UploadSession::fromJson(nlohmann::json::parse(row.text(0))));
  });
  select("SELECT linkId, shareId, internalName FROM links", [&](SqliteStatement& row) {
    snapshot.links.push_back(PublicLink{row.text(0), row.text(1), row.text(2)});
  });
  select("SELECT shareId, internalName, tick, position, parentInside FROM crossings", [&](SqliteStatement& row) {
    Crossing crossing{row.text(1), static_cast<std::int32_t>(row.int64(2)), static_cast<std::int32_t>(row.int64(3)),
                      row.text(4)};
    snapshot.crossings.emplace_back(row.text(0), std::move(crossing));
  });
  return snapshot;
}

void SqliteStateStore::begin() {
  if (depth_++ == 0)
    run("BEGIN", {});
}

void SqliteStateStore::commit() {
  if (--depth_ == 0)
    run("COMMIT", {});
}

void SqliteStateStore::saveShare(const ShareInfo& share) {
  run("INSERT OR REPLACE INTO shares (shareId, record) VALUES (?, ?)", {share.shareId, share.toJson().dump()});
}

void SqliteStateStore::removeShare(const std::string& shareId) {
  run("DELETE FROM shares WHERE shareId = ?", {shareId});
  run("DELETE FROM nodes WHERE shareId = ?", {shareId});
  run("DELETE FROM crossings WHERE shareId = ?", {shareId});
}

void SqliteStateStore::saveNode(const std::string& shareId, const StoredNode& node) {
  run("INSERT OR REPLACE INTO nodes (shareId, internalName, record, blobId) VALUES (?, ?, ?, ?)",
      {shareId, node.file.InternalName.value_or(""), node.file.toJSONText(), node.blobId});
}

void SqliteStateStore::saveBlob(const BlobInfo& blob) {
  SqlValue seed = blob.seed ? SqlValue(static_cast<std::int64_t>(*blob.seed)) : SqlValue(nullptr);
  run("INSERT OR REPLACE INTO blobs (blobId, size, seed, hash) VALUES (?, ?, ?, ?)",
      {blob.blobId, blob.size, seed, blob.hash});
}

void SqliteStateStore::removeBlob(const std::string& blobId) {
  run("DELETE FROM blobs WHERE blobId = ?", {blobId});
}

void SqliteStateStore::saveUpload(const UploadSession& session) {
  run("INSERT OR REPLACE INTO uploads (address, record) VALUES (?, ?)", {session.address, session.toJson().dump()});
}

void SqliteStateStore::removeUpload(const std::string& address) {
  run("DELETE FROM uploads WHERE address = ?", {address});
}

void SqliteStateStore::saveLink(const PublicLink& link) {
  run("INSERT OR REPLACE INTO links (linkId, shareId, internalName) VALUES (?, ?, ?)",
      {link.linkId, link.shareId, link.internalName});
}

void SqliteStateStore::saveCrossing(const std::string& subfolderShareId, const Crossing& crossing) {
  run("INSERT OR REPLACE INTO crossings (shareId, internalName, tick, position, parentInside) VALUES (?, ?, ?, ?, ?)",
      {subfolderShareId, crossing.internalName, std::int64_t{crossing.tick}, std::int64_t{crossing.order},
       crossing.parentInside});
}

void SqliteStateStore::markSeeded() {
  run("INSERT OR REPLACE INTO meta (key, value) VALUES ('seeded', '1')", {});
}

} // namespace orvex::service
