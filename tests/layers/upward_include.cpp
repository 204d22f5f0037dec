// A file of the page layer that includes the session's header: the build
// refuses it (the page layer's include root does not hold engine/session).
#include "engine/session/SQLiteRecovery.h"
