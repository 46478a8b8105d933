// Collects what is wrong with a JSON object while a record is read from it,
// with the path of each problem ("ManagedShares[2].LastApplyedJournalTick"),
// so that the parse error names every missing or mistyped key at once.
// One reader serves one parse on one thread; the keys it is handed must
// outlive it (they come from the member tables and the parsed JSON object).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

class WireReader {
 public:
  // Problems past this many are counted but not spelled out: a page of ten
  // thousand broken nodes must not produce a megabyte of error text.
  static constexpr std::size_t kMaxReportedProblems = 20;

  void enterKey(std::string_view key) { path_.push_back({Segment::kKey, key, 0}); }
  void enterIndex(std::size_t index) { path_.push_back({Segment::kIndex, {}, index}); }
  void enterMapKey(std::string_view key) { path_.push_back({Segment::kMapKey, key, 0}); }
  void leave() { path_.pop_back(); }

  // The member `key` of the object at the current path is absent or null but required.
  void missing(std::string_view key);
  // The value at the current path is not of the member's kind.
  void wrongType(std::string_view expectedKind);

  bool failed() const { return problemCount_ > 0; }
  // "<record>: missing required key "a.b"; key "c" has the wrong type (expected int)".
  std::string errorText(std::string_view recordName) const;

 private:
  struct Segment {
    enum Kind { kKey, kIndex, kMapKey } kind;
    std::string_view key;
    std::size_t index;
  };
  std::string currentPath() const;
  void add(std::string problem);

  std::vector<Segment> path_;
  std::vector<std::string> problems_;
  std::size_t problemCount_ = 0;
};

} // namespace orvex
