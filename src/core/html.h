#pragma once
#include <string>

namespace zupo {

// Text made safe to stand in an HTML page or attribute (& < > " escaped).
std::string HtmlEscape(const std::string& s);

} // namespace zupo
