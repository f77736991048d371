// A server whose served root is a fresh temporary directory, talking to a scripted
// C64: the tests of loads, saves and the listing look at the exact bytes on the
// line, the exact log and the files left on disk.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "service/server.h"
#include "storage/posix_volume.h"
#include "storage/served_volume.h"
#include "tests/support/fakes.h"

namespace dorvane::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline Bytes AsBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Content that shows any shifted, dropped or repeated byte.
inline Bytes Pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return bytes;
}

// The attention byte, then the request packet.
inline Bytes Request(std::uint8_t type, const Bytes& name) {
  return Cat({{ptAttention}, PacketBytes(type, name)});
}
inline Bytes Request(std::uint8_t type, const std::string& name) {
  return Request(type, AsBytes(name));
}

// A file sent as the server sends it: stOk, then blocks of 255 bytes and a shorter
// last one, then stEndOfFile.
inline Bytes SentFile(const Bytes& content) {
  Bytes out = StatusBytes(stOk);
  for (std::size_t at = 0; at < content.size(); at += 255) {
    const std::size_t end = std::min(content.size(), at + 255);
    out = Cat({out, PacketBytes(ptData, Bytes(content.begin() + static_cast<long>(at),
                                              content.begin() + static_cast<long>(end)))});
  }
  return Cat({out, StatusBytes(stEndOfFile)});
}

struct ServedRig {
  ServedRig() : volume(root.string()), served(volume), server(link.link, served, link.panel) {}
  ~ServedRig() {
    std::filesystem::current_path(home);  // the volume made the root current
    std::filesystem::remove_all(root);
  }

  std::filesystem::path Path(const std::string& name) const { return root / name; }

  void Put(const std::string& name, const Bytes& content) {
    std::ofstream out(Path(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
  }
  Bytes Get(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void MakeDir(const std::string& name) { std::filesystem::create_directory(Path(name)); }
  void ReadOnly(const std::string& name) { ::chmod(Path(name).c_str(), 0444); }

  // Every entry of the root, temporary files included.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(root)) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // What the C64 sends; it is on the line before the server starts.
  void Send(const Bytes& bytes) { link.port->Feed(bytes); }

  // Start pressed: the server serves until the script has run out.
  void Serve() {
    link.StopWhenDrained();
    link.HandPortToProvider();
    server.StartServing();
  }

  // Everything the server wrote after echoing the first attention byte.
  Bytes Replies() const {
    const Bytes& w = link.port->written;
    return w.empty() ? w : Bytes(w.begin() + 1, w.end());
  }
  const std::vector<std::string>& Log() const { return link.panel.log; }

  static std::filesystem::path MakeRoot() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "dorvane-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("no temporary directory");
    return tmpl;
  }

  std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::path root = MakeRoot();
  LinkRig link;
  PosixVolume volume;
  ServedVolume served;  // the host tree with its disk images, as served
  Server server;
};

}  // namespace dorvane::testing
