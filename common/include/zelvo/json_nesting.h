#pragma once
// picojson recurses once per level and limits only arrays: every text the
// program parses with it is first checked here, so none can exhaust the stack.
#include <string>

namespace zelvo {

constexpr int kDeepestJsonNesting = 64;

// True when arrays and objects open inside one another more than `limit` deep
// (brackets inside strings do not count).
bool jsonNestedDeeperThan(const std::string& text, int limit = kDeepestJsonNesting);

}  // namespace zelvo
