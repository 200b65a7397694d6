// What a server wrote on one connection, read back as HTTP/1.1 responses:
// for the server's hostile-request tests and its fuzz target.
#pragma once

#include <cctype>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vexlor::test {

struct WireResponse {
  int status = 0;
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
  std::string body;

  // A header's value, or "" when there is none.
  std::string Header(std::string_view name) const {
    for (const auto& [key, value] : headers)
      if (key == name) return value;
    return "";
  }
};

struct Wire {
  std::vector<WireResponse> responses;
  bool wellFormed = true;  // every byte belongs to a well-formed response
};

// Splits bytes into responses: a status line "HTTP/1.1 NNN reason", header
// lines "Name: value", an empty line and Content-Length bytes of body. A
// response that ends where the next begins (or the bytes end) has no body:
// an answer to HEAD, or a 1xx.
inline Wire ReadWire(std::string_view bytes) {
  Wire wire;
  auto fail = [&] {
    wire.wellFormed = false;
    return wire;
  };
  while (!bytes.empty()) {
    size_t headEnd = bytes.find("\r\n\r\n");
    if (headEnd == std::string_view::npos || !bytes.starts_with("HTTP/1.1 ") || headEnd < 12)
      return fail();
    std::string_view head = bytes.substr(0, headEnd + 2);
    WireResponse r;
    for (size_t i = 9; i < 12; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(head[i]))) return fail();
      r.status = r.status * 10 + (head[i] - '0');
    }
    size_t at = head.find("\r\n") + 2;
    while (at < head.size()) {
      size_t end = head.find("\r\n", at);
      std::string_view line = head.substr(at, end - at);
      size_t colon = line.find(':');
      if (colon == std::string_view::npos || colon == 0) return fail();
      std::string name(line.substr(0, colon));
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      std::string_view value = line.substr(colon + 1);
      while (value.starts_with(' ')) value.remove_prefix(1);
      r.headers.emplace_back(name, std::string(value));
      at = end + 2;
    }
    bytes.remove_prefix(headEnd + 4);
    std::string length = r.Header("content-length");
    bool bodiless = r.status < 200 || bytes.empty() || bytes.starts_with("HTTP/1.1 ");
    if (!bodiless) {
      if (length.empty() || length.size() > 9 ||
          length.find_first_not_of("0123456789") != std::string::npos)
        return fail();
      size_t n = std::stoul(length);
      if (n > bytes.size()) return fail();
      r.body = std::string(bytes.substr(0, n));
      bytes.remove_prefix(n);
    }
    wire.responses.push_back(std::move(r));
  }
  return wire;
}

}  // namespace vexlor::test
