// The one progress and stop interface of every long operation: the scan, the
// walks, the recovery passes, the save, the export, the counts.
//
// The engine and the output call it between units of work and say what was
// just done; the presentation (the window, the tool, a test) decides what to
// paint and whether to stop. A stop ends a walk after the record in
// progress; a save still commits what it wrote.
#pragma once

#include <cstdint>

namespace velmora {

// One unit of work, as the progress sees it.
struct WalkStep {
  enum class Kind : std::uint8_t {
    Poll,           // between units of work; nothing to show
    InteriorBegin,  // an interior page is about to walk its children
    InteriorChild,  // child `index` (0-based) of `count` of an interior page is done
    LeafBegin,      // a page's cells are about to be visited
    LeafCell,       // cell `index` of `count` was visited
  };
  Kind kind = Kind::Poll;
  int depth = 0;  // 0 for the root page
  std::int64_t index = 0;
  std::int64_t count = 0;
};

class IProgress {
 public:
  virtual ~IProgress() = default;
  // Called between units of work; true asks the running operation to stop.
  // Once it answered true it keeps answering true until the presentation
  // starts new work.
  virtual bool Step(const WalkStep& step) = 0;
  // The records the running table's save has written so far (it restarts
  // from 0 with each table, and falls back to 0 when the library rolled the
  // table's transaction back). Shown by the tool's progress line.
  virtual void RecordsSaved(std::int64_t records) { (void)records; }

  // A step with nothing to show.
  bool Poll() { return Step(WalkStep{}); }
};

// A progress that shows nothing and never stops: for work that has no
// presentation (tests, benches, the tool's listing).
IProgress& NoProgress();

}  // namespace velmora
