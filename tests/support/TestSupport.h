// Everything the test kit offers, in one include.
#pragma once

#include "tests/support/Damager.h"
#include "tests/support/DbBuilder.h"
#include "tests/support/PageProbe.h"
#include "tests/support/Recorders.h"
#include "tests/support/ReferenceReader.h"
#include "tests/support/SampleDatabases.h"
#include "tests/support/TestEnv.h"
