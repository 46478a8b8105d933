#include "Store/OVDatabaseConstants.h"

namespace orvex {

const std::string_view create_statement_1_3 =
    "CREATE TABLE files (    publicName TEXT,    shareId TEXT,    uploadName TEXT,    internalName TEXT,"
    "    parentId TEXT,    user TEXT,    hash TEXT,    tick INTEGER,    shareTick INTEGER,    updateTick INTEGER,"
    "    createTick INTEGER,    fileSize INTEGER,    createTime INTEGER,    accessTime INTEGER,"
    "    modifyTime INTEGER,    attributes INTEGER,    permissions INTEGER,    deleted INTEGER,    isFile INTEGER,"
    "    status INTEGER,    isLocked INTEGER,    lockDeviceId TEXT,    lockTick INTEGER,    lockedBy TEXT,"
    "    parentShareId TEXT);"
    "CREATE TABLE db_metadata (    dbVersion TEXT,    appVersion TEXT,    createTime INTEGER);"
    "CREATE TABLE downloads (    internalName TEXT,    downloadTime INTEGER,    lastReadTime INTEGER,"
    "    downloadStatus INTEGER);"
    "CREATE TABLE syncedfolders (    itemId TEXT,    changeTime INTEGER);"
    "CREATE TABLE uploads (    internalName TEXT,    tick INTEGER,    startTime INTEGER,    finishTime INTEGER,"
    "    progress INTEGER,    fileHash TEXT,    uploadName TEXT,    token TEXT);"
    "CREATE INDEX idx_publicName ON files(publicName);"
    "CREATE INDEX idx_shareId ON files(shareId);"
    "CREATE INDEX idx_uploadName ON files(uploadName);"
    "CREATE INDEX idx_internalName ON files(internalName);"
    "CREATE INDEX idx_parentId ON files(parentId);"
    "CREATE INDEX idx_deleted ON files(deleted);"
    "CREATE INDEX idx_status ON files(status);"
    "CREATE INDEX idx_idandstatus ON files(internalName, status);"
    "CREATE INDEX idx_parentAndName ON files(parentId, publicName);"
    "CREATE INDEX idx_dnl_internalName ON downloads(internalName);"
    "CREATE INDEX idx_dnl_time ON downloads(downloadTime);"
    "CREATE INDEX idx_dnl_readTime ON downloads(lastReadTime);"
    "CREATE INDEX idx_sync_itemId ON syncedfolders(itemId);"
    "CREATE INDEX idx_upl_name ON uploads(internalName);";

const std::string_view upgrade_statement_1_1 =
    "ALTER TABLE downloads ADD COLUMN lastReadTime INTEGER;"
    "CREATE INDEX idx_dnl_time ON downloads(downloadTime);"
    "CREATE INDEX idx_dnl_readTime ON downloads(lastReadTime);"
    "CREATE TABLE uploads (    internalName TEXT,    tick INTEGER,    startTime INTEGER,    finishTime INTEGER,"
    "    progress INTEGER,    fileHash TEXT,    uploadName TEXT,    token TEXT);"
    "CREATE INDEX idx_upl_name ON uploads(internalName);";

const std::string_view upgrade_statement_1_2 =
    "ALTER TABLE files ADD COLUMN isLocked INTEGER;"
    "ALTER TABLE files ADD COLUMN lockDeviceId TEXT;"
    "ALTER TABLE files ADD COLUMN lockTick INTEGER;"
    "ALTER TABLE files ADD COLUMN lockedBy TEXT;";

const std::string_view upgrade_statement_1_3 = "ALTER TABLE files ADD COLUMN parentShareId TEXT;";

} // namespace orvex
