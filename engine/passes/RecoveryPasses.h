// The recovery of one opened file as an ordered list of named passes over
// one RecoveryState.
//
// The algorithm, in the order the passes run:
//   scan (the Open):
//     1. "page 1": page 1 is parsed, or, when its b-tree header is damaged,
//        read loosely (its cells found by the cell-content scan);
//     2. "schema tree": the schema tree is walked into the catalog, every
//        schema row's claim on a root page kept;
//     3. "live roots": the roots are chosen by evidence and the live trees
//        are mapped in the page map;
//     4. "schema search": when the schema tree was damaged, every page no
//        live tree or freelist holds is searched for schema rows, and the
//        roots are chosen again with those taken;
//   build (the working database):
//     5. "working database": every table statement is replayed in the
//        confined working database, a refused one rebuilt;
//     6. "orphan pages": every page given its role, orphan table pages put
//        back into their tables or kept for lost and found;
//     7. "recovered trees": orphan trees that no table fits become tables of
//        their own;
//     8. "lost and found": the rows left get the lost-and-found table;
//     9. "deleted records": the rows the file still holds in free space and
//        on free pages (engine/DeletedRecords.h), kept apart from every
//        table's live rows.
// Each pass reads what the passes before it found and adds its own
// findings; none shows anything. A stop ends the pass at work after the
// unit in progress; the passes after it see the stop at their first poll.
#pragma once

#include <span>

#include "engine/core/Progress.h"

namespace velmora {

struct RecoveryState;

// When a pass runs: during the scan of the file, or when the working
// database is built.
enum class PassPhase : unsigned char { Scan, Build };

// What a pass came to. Failed ends its phase (the passes after it in the
// phase do not run); the reason is in the state.
enum class PassResult : unsigned char { Done, Skipped, Failed };

struct RecoveryPass {
  const char* name;
  PassPhase phase;
  PassResult (*run)(RecoveryState& state, IProgress& progress);
};

// Every pass, in the order the session runs them.
std::span<const RecoveryPass> RecoveryPasses();

}  // namespace velmora
