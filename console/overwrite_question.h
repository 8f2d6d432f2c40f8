// The console's question before it writes over files that already exist.
#pragma once

#include <string>
#include <string_view>

namespace sondrel {

// Whether a file can be opened for reading (it exists, as far as the
// program can tell).
bool FileReadable(const std::string& path);

// Counts the files of the first `count` list entries that exist. When some
// do, asks whether to overwrite them: true to go on, false to go back to the
// menu. "W" sets `overwriteAll`.
bool ConfirmOverwrite(int count, std::string_view list, bool& overwriteAll);

}  // namespace sondrel
