// dorvaned: the file server without a window, for a small box beside the C64 and for
// testing. It serves exactly as the window does; only the front end differs.
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "app/headless_panel.h"
#include "link/link.h"
#include "link/os_error.h"
#include "platform/file_size_limit.h"
#include "platform/host_ports.h"
#include "platform/monotonic_clock.h"
#include "platform/posix_volume.h"
#include "service/captions.h"
#include "service/server.h"

namespace {

constexpr const char* Usage =
    "Usage: dorvaned --port DEVICE [--root DIR] [--allow-delete]\n"
    "Serves a directory to a C64 over an RS-232 cable, without a window.\n"
    "\n"
    "  --port DEVICE    the serial device: a path (a pseudo-terminal's too) or com1..com4\n"
    "  --root DIR       the directory to serve (default: the current directory)\n"
    "  --allow-delete   let the C64 delete files and directories (refused by default)\n"
    "  --help           show this text and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "The log goes to standard output, one line each. SIGINT, SIGTERM or SIGHUP stops\n"
    "serving.\n";

struct Options {
  std::string port;
  std::string root = ".";
  bool allow_delete = false;
  bool help = false;
  bool version = false;
};

// Fills `options` from the command line; on a mistake returns its description.
std::optional<std::string> ParseOptions(int argc, char** argv, Options& options) {
  bool have_port = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name, std::string& into) -> std::optional<std::string> {
      if (i + 1 >= argc) return std::string(name) + " needs a value";
      into = argv[++i];
      return std::nullopt;
    };
    std::optional<std::string> mistake;
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--allow-delete") {
      options.allow_delete = true;
    } else if (arg == "--port") {
      mistake = value("--port", options.port);
      have_port = true;
    } else if (arg.rfind("--port=", 0) == 0) {
      options.port = arg.substr(7);
      have_port = true;
    } else if (arg == "--root") {
      mistake = value("--root", options.root);
    } else if (arg.rfind("--root=", 0) == 0) {
      options.root = arg.substr(7);
    } else {
      mistake = "unknown argument: " + arg;
    }
    if (mistake) return mistake;
  }
  if (options.help || options.version) return std::nullopt;
  if (!have_port || options.port.empty()) return std::string("--port DEVICE is required");
  return std::nullopt;
}

// The log's first line names the port as the operator gave it ("com2", "/dev/pts/3"),
// so the provider hands that text to the link unchanged and lets the host's provider
// map it when the port is opened.
class GivenPortProvider : public dorvane::PortProvider {
 public:
  GivenPortProvider(dorvane::PortProvider& host, std::string device)
      : host_(host), device_(std::move(device)) {}
  std::string PortNameFor(int) override { return device_; }
  std::unique_ptr<dorvane::SerialPort> Open(const std::string& name) override {
    return host_.Open(name);
  }

 private:
  dorvane::PortProvider& host_;
  std::string device_;
};

int Serve(const Options& options) {
  dorvane::InstallStopSignals();
  dorvane::IgnoreFileSizeSignal();

  // The root is held open; one that is not a directory ends here, with a message
  // that names it.
  std::unique_ptr<dorvane::PosixVolume> root;
  try {
    root = std::make_unique<dorvane::PosixVolume>(options.root);
  } catch (const dorvane::OsError& error) {
    std::fprintf(stderr, "dorvaned: --root %s: %s\n", options.root.c_str(), error.what());
    return 1;
  }
  dorvane::PosixVolume& volume = *root;
  dorvane::MonotonicClock clock;
  dorvane::HostPortProvider host_ports;
  GivenPortProvider ports(host_ports, options.port);
  dorvane::HeadlessPanel panel(stdout, !options.allow_delete);
  dorvane::Link link(panel, clock, ports);
  // A stop signal cuts the port's sleep short, so between requests the server may
  // sleep far longer than a window could and stay near 0 % of a core while idle.
  link.IdleWaitMs = 100;
  panel.AttachLink(link);
  dorvane::Server server(link, volume, panel);

  server.StartServing();
  // Serving ends by closing the main window only after a stop; a port that could not
  // be opened returns without it, and its two lines are already out.
  return panel.Closed() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (auto mistake = ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "dorvaned: %s\n%s", mistake->c_str(), Usage);
    return 2;
  }
  if (options.help) {
    std::fputs(Usage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("dorvaned %s\n", dorvane::ProgramVersion);
    return 0;
  }
  try {
    return Serve(options);
  } catch (const std::exception& error) {
    // An error that ends serving: the operator reads its text, as in the window's box.
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}
