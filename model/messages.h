#pragma once
// The model core's one message service. The core stays free of any toolkit: the
// editor window installs a handler that shows a modal message box, kglmodel one
// that writes to standard error, tests one that records. Without a handler,
// messages go to standard error.
#include <functional>
#include <string>

namespace kgl {

// caption may be empty (the model core's own messages have none).
using TMessageHandler = std::function<void(const std::string& caption, const std::string& text)>;

// Installs handler (an empty one restores the standard-error default) and returns the previous one.
TMessageHandler SetMessageHandler(TMessageHandler handler);

// Shows text through the installed handler; blocks for as long as the handler does.
void ShowMessage(const std::string& text, const std::string& caption = std::string());

}  // namespace kgl
