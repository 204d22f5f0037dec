// System error texts.
#pragma once

#include <QString>

namespace velmora {

// The system's message text for `errorCode` (an errno value); empty when the
// system has none.
QString FormatSystemError(int errorCode);

}  // namespace velmora
