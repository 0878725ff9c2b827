#include "support/test_support.h"

namespace vellum::test {

void initHostThread() {}
bool isWine() { return false; }

}  // namespace vellum::test
