// The script line the host saves for a filter instance, and the escaping of
// the host's string literals that it uses. Portable: the plug-in module
// writes it, and the command line shows it.
#include "pixel/pixel.h"

namespace vexlor {

std::string ScriptEscape(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 8);
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string ScriptLine(const FilterSettings& settings) {
  return "Config(\"" + ScriptEscape(SettingsText(settings)) + "\", " +
         (settings.clamp ? "1" : "0") + ")";
}

}  // namespace vexlor
