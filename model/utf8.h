#pragma once
// Names as UTF-8. A model's names are kept as the file had them, and exporters write
// both UTF-8 and Latin-1; formats and windows that need UTF-8 take them through here.
#include <string>
#include <string_view>

namespace kgl {

// bytes as UTF-8: every valid UTF-8 sequence as it stands, every other byte as the
// Latin-1 character of that value, so no byte is lost or becomes a replacement mark.
std::string NameAsUtf8(std::string_view bytes);

}  // namespace kgl
