// A file of the page layer that includes a header of its own layer and one
// of the layer below: the build takes it.
#include "engine/core/Format.h"
#include "engine/pages/PageSource.h"
