#pragma once
// The statements of a script as the user wrote them, split at the semicolons of its code, so an
// error of a later statement can be placed in that statement's own text.
#include <string_view>
#include <vector>

namespace plinthos::engine {

// Each statement runs from just after the previous semicolon up to its own (the first from the
// start); stretches of only white space and comments are left out. Quotes, E'' escapes, dollar
// quotes and nested block comments are read as the engine reads them.
std::vector<std::string_view> splitStatements(std::string_view script);

}  // namespace plinthos::engine
