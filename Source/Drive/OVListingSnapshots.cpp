#include "Drive/OVListingSnapshots.h"

#include "Drive/OVFuseUtils.h"

namespace orvex {

void OVListingSnapshots::remember(const std::string& folderPath, std::vector<OVFile> rows) {
  Snapshot snapshot{folderPath, clock_.steadyNow(), {}};
  snapshot.rows.reserve(rows.size());
  for (OVFile& row : rows) {
    std::string name = row.publicName;
    snapshot.rows.insert_or_assign(std::move(name), std::move(row));
  }
  std::lock_guard lock(mutex_);
  if (auto same = byFolder_.find(folderPath); same != byFolder_.end())
    drop(same->second);
  if (snapshot.rows.size() > kMaxRows)
    return;
  while (rowCount_ + snapshot.rows.size() > kMaxRows)
    drop(snapshots_.begin());
  rowCount_ += snapshot.rows.size();
  snapshots_.push_back(std::move(snapshot));
  byFolder_.emplace(folderPath, std::prev(snapshots_.end()));
}

std::optional<OVFile> OVListingSnapshots::find(const std::string& path) {
  const std::string folder = OVFuseUtils::parentPath(path);
  const std::string name(OVFuseUtils::lastPathComponent(path));
  const auto now = clock_.steadyNow();
  std::lock_guard lock(mutex_);
  while (!snapshots_.empty() && now - snapshots_.front().taken > kLifetime)
    drop(snapshots_.begin());
  auto snapshot = byFolder_.find(folder);
  if (snapshot == byFolder_.end())
    return std::nullopt;
  auto row = snapshot->second->rows.find(name);
  return row == snapshot->second->rows.end() ? std::nullopt : std::optional<OVFile>(row->second);
}

void OVListingSnapshots::forget(const std::string& folderPath) {
  std::lock_guard lock(mutex_);
  if (auto same = byFolder_.find(folderPath); same != byFolder_.end())
    drop(same->second);
}

void OVListingSnapshots::drop(Snapshots::iterator snapshot) {
  rowCount_ -= snapshot->rows.size();
  byFolder_.erase(snapshot->folderPath);
  snapshots_.erase(snapshot);
}

} // namespace orvex
