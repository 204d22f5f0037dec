#include "output/Affinity.h"

namespace velmora {
namespace {

struct AffinityRule {
  const char* contains;
  int code;
};

// Tested in this order; the first rule whose text occurs anywhere in the
// upper-cased type decides. "INT" comes first, so INTERVAL and POINT are
// integers and CHARBLOB is text because "CHAR" precedes "BLOB".
constexpr AffinityRule kRules[] = {
    {"INT", AFFINITY_INTEGER},      {"CHAR", AFFINITY_TEXT},       {"TEXT", AFFINITY_TEXT},
    {"CLOB", AFFINITY_TEXT},        {"BLOB", AFFINITY_BLOB},       {"REAL", AFFINITY_REAL},
    {"DOUBLE", AFFINITY_REAL},      {"FLOAT", AFFINITY_REAL},      {"NUMERIC", AFFINITY_NUMERIC},
    {"DECIMAL", AFFINITY_NUMERIC},  {"BOOLEAN", AFFINITY_NUMERIC}, {"DATE", AFFINITY_NUMERIC},
};

}  // namespace

int GetTypeAffinity(QString declaredType) {
  // Only a to z are folded: other letters stay as they are.
  for (QChar& c : declaredType) {
    if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 'a' + 'A');
  }
  for (const AffinityRule& rule : kRules) {
    if (declaredType.contains(QLatin1String(rule.contains))) return rule.code;
  }
  return AFFINITY_TEXT;
}

}  // namespace velmora
