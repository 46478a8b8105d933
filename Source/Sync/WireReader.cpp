// Error collection for wire record parsing.
#include "Sync/WireReader.h"

#include <fmt/format.h>

namespace orvex {

std::string WireReader::currentPath() const {
  std::string path;
  for (const Segment& segment : path_) {
    switch (segment.kind) {
      case Segment::kKey:
        if (!path.empty()) {
          path += '.';
        }
        path += segment.key;
        break;
      case Segment::kIndex:
        path += fmt::format("[{}]", segment.index);
        break;
      case Segment::kMapKey:
        path += fmt::format("[\"{}\"]", segment.key);
        break;
    }
  }
  return path;
}

void WireReader::missing(std::string_view key) {
  std::string path = currentPath();
  if (!path.empty()) {
    path += '.';
  }
  path += key;
  add(fmt::format("missing required key \"{}\"", path));
}

void WireReader::wrongType(std::string_view expectedKind) {
  add(fmt::format("key \"{}\" has the wrong type (expected {})", currentPath(), expectedKind));
}

void WireReader::add(std::string problem) {
  ++problemCount_;
  if (problems_.size() < kMaxReportedProblems) {
    problems_.push_back(std::move(problem));
  }
}

std::string WireReader::errorText(std::string_view recordName) const {
  std::string text = fmt::format("{}: ", recordName);
  for (std::size_t i = 0; i < problems_.size(); ++i) {
    text += (i == 0 ? "" : "; ") + problems_[i];
  }
  if (problemCount_ > problems_.size()) {
    text += fmt::format("; and {} more", problemCount_ - problems_.size());
  }
  if (problemCount_ == 0) {
    text += "invalid record";
  }
  return text;
}

} // namespace orvex
