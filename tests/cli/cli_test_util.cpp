#include "cli_test_util.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace vexlor::test {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::string tmpl = (fs::temp_directory_path() / "vexlor-cli-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path, ec);
}

std::vector<std::string> ScratchDir::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

namespace {

// Runs cmd with its standard streams redirected: in from the file `in`, out
// and err into files of io, unless cmd redirects them itself.
RunResult RunRedirected(const std::string& cmd, const ScratchDir& io) {
  std::string line = cmd + " <" + ShellQuote(io.File("in")) + " >" + ShellQuote(io.File("out")) +
                     " 2>" + ShellQuote(io.File("err"));
  int raw = std::system(line.c_str());
  int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return {status, ReadFile(io.File("out")), ReadFile(io.File("err"))};
}

}  // namespace

RunResult RunVexlor(const std::vector<std::string>& args, const std::string& input) {
  ScratchDir io;
  WriteFile(io.File("in"), input);
  std::string cmd = ShellQuote(VEXLOR_BINARY);
  for (const std::string& a : args) cmd.append(" ").append(ShellQuote(a));
  return RunRedirected(cmd, io);
}

RunResult RunShell(const std::string& script) {
  ScratchDir io;
  WriteFile(io.File("in"), "");
  std::string body = "VEXLOR=" + ShellQuote(VEXLOR_BINARY) + "\n" + script;
  return RunRedirected("sh -c " + ShellQuote(body), io);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Bytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

cli::Picture NoisePicture(int32_t width, int32_t height, uint32_t seed) {
  cli::Picture p{width, height, std::vector<uint32_t>(size_t(width) * size_t(height))};
  for (uint32_t& px : p.pixels) {
    seed = seed * 1664525u + 1013904223u;
    px = seed ^ (seed >> 13);
  }
  return p;
}

std::vector<uint32_t> MapLikeHost(const std::string& program, bool clamp,
                                  const std::vector<uint32_t>& pixels, int32_t width,
                                  int32_t height, int32_t frame) {
  std::vector<uint32_t> up(pixels.size()), out(pixels.size());
  auto flip = [&](const std::vector<uint32_t>& from, std::vector<uint32_t>& to) {
    for (int32_t y = 0; y < height; ++y)
      std::copy_n(from.begin() + ptrdiff_t(y) * width, width,
                  to.begin() + ptrdiff_t(height - 1 - y) * width);
  };
  flip(pixels, up);
  FilterSettings settings{};
  settings.clamp = clamp;
  SetSettingsText(settings, program);
  std::vector<uint32_t> mapped(pixels.size());
  MapFrame(settings, ConstPixelView{up.data(), width, height, width * 4},
           PixelView{mapped.data(), width, height, width * 4}, frame);
  flip(mapped, out);
  return out;
}

std::vector<uint32_t> Rgb(std::vector<uint32_t> pixels) {
  for (uint32_t& p : pixels) p &= 0xFFFFFFu;
  return pixels;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

}  // namespace vexlor::test
