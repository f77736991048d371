#include "tests/e2e/served_session.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <random>

#include "ports/host_port_text.h"
#include "ports/tcp_client_port.h"
#include "ports/termios_port.h"
#include "storage/posix_files.h"
#include "tools/peer/listing_decoder.h"

namespace dorvane::e2e {

namespace fs = std::filesystem;

Bytes RandomBytes(std::size_t count, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(count);
  for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Listed ListedLines(const Bytes& image) {
  const peer::DecodedListing listing = peer::DecodeListing(image);
  EXPECT_TRUE(listing.Ok()) << listing.Error;
  Listed lines;
  for (const peer::ListingLine& line : listing.Lines) lines.emplace_back(line.Number, line.Text);
  return lines;
}

std::string EntryText(int lead, const std::string& name, int fill, const std::string& type,
                      int trail) {
  return std::string(lead, ' ') + '"' + name + '"' + std::string(fill, ' ') + type +
         std::string(trail, ' ');
}

std::string LinkName(const ::testing::TestParamInfo<LinkKind>& info) {
  switch (info.param) {
    case LinkKind::kPty:
      return "Pty";
    case LinkKind::kTcp:
      return "Tcp";
    case LinkKind::kStdio:
      return "Stdio";
  }
  return "Unknown";
}

ServedSession::ServedSession(LinkKind link) : link_(link) {
  // A server that went away must fail a test, not kill the whole run with SIGPIPE
  // at the next write to its socket.
  signal(SIGPIPE, SIG_IGN);
  std::string pattern = (fs::temp_directory_path() / "dorvane-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  outside_ = pattern;
  root_ = outside_ / "served";
  fs::create_directory(root_);
}

ServedSession::~ServedSession() {
  peer_.reset();
  port_.reset();
  retired_.clear();
  unplugged_.clear();
  // A test that ended early left its server running: it gets the operator's stop,
  // and the kill after a grace.
  if (server_ && server_->Running()) server_->Stop(SIGTERM);
  server_.reset();
  ClosePtyPair(pty_);
  for (int& fd : stdio_ends_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  if (outside_.empty()) return;
  // A directory a test made read-only would keep its entries from an ordinary user.
  std::error_code walking, ignored;
  for (auto it = fs::recursive_directory_iterator(outside_, walking);
       !walking && it != fs::recursive_directory_iterator(); it.increment(walking)) {
    if (it->is_directory() && !it->is_symlink())
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(outside_, ignored);
}

std::vector<std::string> ServedSession::LinkArgs() {
  switch (link_) {
    case LinkKind::kPty:
      pty_ = OpenPtyPair();
      if (serve_link) fs::create_symlink(pty_.slave_path, outside_ / "cable");
      return {"--port", PortPath()};
    case LinkKind::kTcp:
      // Port 0: the system picks a free one, and the server's log names it.
      return {"--listen", "127.0.0.1:0"};
    case LinkKind::kStdio:
      if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, stdio_ends_) != 0) {
        ADD_FAILURE() << "socketpair failed";
      }
      return {"--stdio"};
  }
  return {};
}

std::unique_ptr<SerialPort> ServedSession::PeerPort() {
  switch (link_) {
    case LinkKind::kPty:
      // The peer's port owns its descriptor; the pair keeps the master for the hang-up.
      return TermiosPort::Adopt(dup(pty_.master));
    case LinkKind::kTcp:
      return Connect();
    case LinkKind::kStdio: {
      auto port = TermiosPort::Adopt(stdio_ends_[0]);
      stdio_ends_[0] = -1;
      return port;
    }
  }
  return nullptr;
}

std::unique_ptr<SerialPort> ServedSession::Connect() {
  std::string error;
  const auto where = ParseHostPort(listen_address_, "", error);
  EXPECT_TRUE(where) << error;
  if (!where) return nullptr;
  return TcpClientPort::Connect(*where);
}

void ServedSession::StartServer(bool allow_delete, FileAccess access) {
  std::vector<std::string> args = LinkArgs();
  for (const char* arg : {"--root", root_.c_str()}) args.push_back(arg);
  if (allow_delete) args.push_back("--allow-delete");
  args.insert(args.end(), server_args.begin(), server_args.end());
  server_ = std::make_unique<ServerProcess>(std::string(DORVANE_BIN_DIR) + "/dorvaned", args,
                                            access, stdio_ends_[1]);
  if (stdio_ends_[1] >= 0) {
    close(stdio_ends_[1]);  // the server holds its end now
    stdio_ends_[1] = -1;
  }
  ASSERT_TRUE(server_->AwaitLine("Waiting for command from C64..."))
      << "the server never got ready; its error output: " << server_->ErrText();
  if (link_ == LinkKind::kTcp) {
    const auto address = server_->AwaitLineStartingWith("Listening on ");
    ASSERT_TRUE(address) << "the server named no address";
    listen_address_ = *address;
  }
  port_ = PeerPort();
  ASSERT_TRUE(port_);
  peer_ = std::make_unique<peer::C64Peer>(*port_, clock_, options);
}

void ServedSession::ClosePeer() {
  peer_.reset();
  port_.reset();
  ClosePtyPair(pty_);
}

std::optional<int> ServedSession::StopServer(int signal) { return server_->Stop(signal); }

std::string ServedSession::PortPath() const {
  return serve_link ? (outside_ / "cable").string() : pty_.slave_path;
}

void ServedSession::Unplug() {
  // The peer's descriptor on the master is pointed at /dev/null, so that no copy
  // of the master stays open and the peer still has a descriptor to use.
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  ASSERT_GE(null, 0);
  ASSERT_GE(dup2(null, port_->InputDescriptor()), 0);
  close(null);
  ClosePtyPair(pty_);
  if (serve_link) fs::remove(outside_ / "cable");
}

void ServedSession::Replug() {
  ASSERT_TRUE(serve_link) << "only a link path can come back as a new pair";
  pty_ = OpenPtyPair();
  fs::create_symlink(pty_.slave_path, outside_ / "cable");
  retired_.push_back(std::move(peer_));
  unplugged_.push_back(std::move(port_));
  port_ = TermiosPort::Adopt(dup(pty_.master));
  peer_ = std::make_unique<peer::C64Peer>(*port_, clock_, options);
}

void ServedSession::Put(const fs::path& path, const Bytes& data) {
  const fs::path where = path.is_absolute() ? path : root_ / path;
  std::ofstream out(where, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  ASSERT_TRUE(out.good()) << where;
}

std::optional<Bytes> ServedSession::Contents(const fs::path& path) const {
  const fs::path where = path.is_absolute() ? path : root_ / path;
  std::ifstream in(where, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<fs::path> ServedSession::PendingSaves() const {
  std::vector<fs::path> found;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(outside_, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->path().filename().string().rfind(PendingFilePrefix, 0) == 0)
      found.push_back(it->path());
  }
  return found;
}

std::vector<fs::path> ServedSession::UnnamedSaves() const {
  // An unnamed file shows in /proc as "DIR/#INODE (deleted)".
  std::vector<fs::path> found;
  std::error_code error;
  const fs::path fds = "/proc/" + std::to_string(server_->Pid()) + "/fd";
  for (auto it = fs::directory_iterator(fds, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    const std::string target = fs::read_symlink(it->path(), error).string();
    const std::string deleted = " (deleted)";
    if (error || target.size() <= deleted.size() ||
        target.compare(target.size() - deleted.size(), deleted.size(), deleted) != 0) {
      error.clear();
      continue;
    }
    const fs::path file = target.substr(0, target.size() - deleted.size());
    if (file.filename().string().rfind('#', 0) == 0) found.push_back(file.parent_path());
  }
  return found;
}

}  // namespace dorvane::e2e
