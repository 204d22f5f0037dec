#include "engine/core/Progress.h"

namespace velmora {
namespace {

class SilentProgress final : public IProgress {
 public:
  bool Step(const WalkStep&) override { return false; }
};

}  // namespace

IProgress& NoProgress() {
  static SilentProgress none;
  return none;
}

}  // namespace velmora
