#include "Drive/OVListingSnapshots.h"

#include "Drive/OVFuseUtils.h"

namespace orvex {

void OVListingSnapshots::remember(const std::string& folderPath, std::vector<OVFile> rows) {
  Snapshot snapshot{folderPath, clock_.steadyNow(), std::make_shared<const std::vector<OVFile>>(std::move(rows)), {}};
  snapshot.byName.reserve(snapshot.rows->size());
  for (const OVFile& row : *snapshot.rows)
    snapshot.byName.insert_or_assign(row.publicName, &row);
  std::lock_guard lock(mutex_);
  if (auto same = byFolder_.find(folderPath); same != byFolder_.end())
    drop(same->second);
  if (snapshot.byName.size() > kMaxRows)
    return;
  while (rowCount_ + snapshot.byName.size() > kMaxRows)
    drop(snapshots_.begin());
  rowCount_ += snapshot.byName.size();
  snapshots_.push_back(std::move(snapshot));
  byFolder_.emplace(folderPath, std::prev(snapshots_.end()));
}

std::shared_ptr<const OVFile> OVListingSnapshots::find(const std::string& path) {
  const std::string folder = OVFuseUtils::parentPath(path);
  const std::string_view name = OVFuseUtils::lastPathComponent(path);
  const auto now = clock_.steadyNow();
  std::lock_guard lock(mutex_);
  while (!snapshots_.empty() && now - snapshots_.front().taken > kLifetime)
    drop(snapshots_.begin());
  auto snapshot = byFolder_.find(folder);
  if (snapshot == byFolder_.end())
    return nullptr;
  const Snapshot& rows = *snapshot->second;
  auto row = rows.byName.find(name);
  return row == rows.byName.end() ? nullptr : std::shared_ptr<const OVFile>(rows.rows, row->second);
}

void OVListingSnapshots::forget(const std::string& folderPath) {
  std::lock_guard lock(mutex_);
  if (auto same = byFolder_.find(folderPath); same != byFolder_.end())
    drop(same->second);
}

void OVListingSnapshots::drop(Snapshots::iterator snapshot) {
  rowCount_ -= snapshot->byName.size();
  byFolder_.erase(snapshot->folderPath);
  snapshots_.erase(snapshot);
}

} // namespace orvex
