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

}  // namespace velmora::fuzz
