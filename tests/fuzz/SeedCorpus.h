// The seed corpus: small databases of every layout the recovery meets, some
// intact, some already damaged, made with the test kit's builder.
#pragma once

#include <QString>
#include <QStringList>

namespace velmora::fuzz {

// Writes the seeds into `folder` (created when missing) and returns their
// paths; an empty list when a seed could not be made (the reason goes to
// *error). `withLargePages` adds a 64 KiB-page seed (too large to mutate
// quickly, so the fuzz run leaves it out).
QStringList WriteSeedCorpus(const QString& folder, bool withLargePages, QString* error);

// Writes a few very small databases (512-byte pages, one to eight pages each:
// one page of every b-tree kind, a short overflow chain, an interior page of
// each tree kind) into `folder`: inputs a page-level fuzzer mutates quickly.
// Returns their paths; empty when one could not be made (the reason goes to
// *error).
QStringList WriteSmallSeeds(const QString& folder, QString* error);

// Writes the seeds of the companion-file target into `folder`: a database
// with a write-ahead log and with a hot rollback journal, both made by the
// library in the middle of its work, as they are and with their checksums
// to be made right (see CompanionInput), and a log whose commit frame claims
// 0xFFFFFFFF pages. Their paths; empty on failure (reason in *error).
QStringList WriteCompanionSeeds(const QString& folder, QString* error);

// Writes the seeds of the schema-replay target into `folder`: schema rows of
// every kind, sound and hostile (see PackSchemaRow).
QStringList WriteSchemaSeeds(const QString& folder, QString* error);

}  // namespace velmora::fuzz
