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
#include "app/plain_cause.h"
#include "link/link.h"
#include "link/monotonic_clock.h"
#include "link/os_error.h"
#include "platform/file_size_limit.h"
#include "ports/host_ports.h"
#include "ports/network_ports.h"
#include "service/captions.h"
#include "service/server.h"
#include "storage/posix_volume.h"
#include "storage/root_access.h"
#include "storage/served_volume.h"

namespace {

constexpr const char* Usage =
    "Usage: dorvaned (--port DEVICE | --listen [HOST:]PORT | --stdio) [--ip232]\n"
    "                [--root DIR] [--allow-delete] [--timestamps]\n"
    "Serves a directory to a C64 over an RS-232 cable, an emulator's network link or\n"
    "its pipe, without a window.\n"
    "\n"
    "  --port DEVICE    the serial device: a path (a pseudo-terminal's too) or com1..com4;\n"
    "                   tcp-listen:[HOST:]PORT and stdio as below\n"
    "  --listen [HOST:]PORT  serve over TCP, one C64 at a time (HOST 127.0.0.1 unless\n"
    "                   given; [::1]:PORT for IPv6). A host others can reach gets no\n"
    "                   password: whoever connects can read and write the directory\n"
    "  --stdio          standard input and output are the link (an emulator's\n"
    "                   \"|dorvaned --stdio\" device); the log goes to standard error\n"
    "  --ip232          the emulator's ip232 escaping, with --listen or --stdio\n"
    "  --root DIR       the directory to serve (default: the current directory)\n"
    "  --allow-delete   let the C64 delete files and directories (refused by default)\n"
    "  -t, --timestamps put the local time before each line of the log\n"
    "  -h, --help       show this text and exit\n"
    "  -V, --version    show the version and exit\n"
    "\n"
    "The log goes to standard output, one line each. SIGINT, SIGTERM or SIGHUP stops\n"
    "serving; so does the end of input with --stdio. Exit status: 0 after a stop, 1\n"
    "when serving could not start or ended on an error, 2 for a wrong command line.\n";

struct Options {
  std::string port;
  std::string root = ".";
  bool allow_delete = false;
  bool ip232 = false;
  bool timestamps = false;
  bool help = false;
  bool version = false;
};

// Fills `options` from the command line; on a mistake returns its description.
std::optional<std::string> ParseOptions(int argc, char** argv, Options& options) {
  int links = 0;  // --port, --listen and --stdio given
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
    } else if (arg == "--version" || arg == "-V") {
      options.version = true;
    } else if (arg == "--timestamps" || arg == "-t") {
      options.timestamps = true;
    } else if (arg == "--allow-delete") {
      options.allow_delete = true;
    } else if (arg == "--port") {
      mistake = value("--port", options.port);
      ++links;
    } else if (arg.rfind("--port=", 0) == 0) {
      options.port = arg.substr(7);
      ++links;
    } else if (arg == "--listen") {
      mistake = value("--listen", options.port);
      options.port = dorvane::TcpListenPrefix + options.port;
      ++links;
    } else if (arg.rfind("--listen=", 0) == 0) {
      options.port = dorvane::TcpListenPrefix + arg.substr(9);
      ++links;
    } else if (arg == "--stdio") {
      options.port = dorvane::StdioPortName;
      ++links;
    } else if (arg == "--ip232") {
      options.ip232 = true;
    } else if (arg == "--root") {
      mistake = value("--root", options.root);
    } else if (arg.rfind("--root=", 0) == 0) {
      options.root = arg.substr(7);
    } else {
      mistake = arg.size() > 1 && arg[0] == '-' ? "unknown option: " + arg
                                                : "unexpected argument: " + arg;
    }
    if (mistake) return mistake;
  }
  if (options.help || options.version) return std::nullopt;
  if (links > 1) return std::string("give only one of --port, --listen and --stdio");
  if (links == 0 || options.port.empty()) {
    return std::string("--port DEVICE, --listen [HOST:]PORT or --stdio is required");
  }
  if (options.ip232) {
    std::string error;
    const auto name = dorvane::ParseNetworkPortName(options.port, error);
    if (name && name->Type == dorvane::NetworkPortName::Kind::kNone) {
      return std::string("--ip232 goes with --listen or --stdio");
    }
    if (!name || !name->Ip232) options.port += dorvane::Ip232Suffix;
  }
  return std::nullopt;
}

// The one port given on the command line, whatever the choice; "com2" is logged as
// the device it stands for.
class GivenPortProvider : public dorvane::PortProvider {
 public:
  GivenPortProvider(dorvane::HostPortProvider& host, dorvane::PortProvider& ports,
                    std::string device)
      : host_(host), ports_(ports), device_(std::move(device)) {}
  std::string PortNameFor(int) override { return host_.Resolve(device_); }
  std::unique_ptr<dorvane::SerialPort> Open(const std::string& name) override {
    return ports_.Open(name);
  }
  std::string OpenFailureCause() const override { return ports_.OpenFailureCause(); }

 private:
  dorvane::HostPortProvider& host_;  // maps "com2" to its device
  dorvane::PortProvider& ports_;     // opens devices and network links alike
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
    std::fprintf(stderr, "dorvaned: --root %s: %s\n", options.root.c_str(),
                 dorvane::DirectoryCause(error.Code()).c_str());
    return 1;
  }
  dorvane::ServedVolume volume(*root);  // the tree, and the disk images in it as drives
  dorvane::MonotonicClock clock;
  dorvane::HostPortProvider host_ports;
  dorvane::NetworkPortProvider network_ports(host_ports);
  GivenPortProvider ports(host_ports, network_ports, options.port);
  // On standard input and output the link has standard output: the log moves aside.
  std::string ignored;
  const auto name = dorvane::ParseNetworkPortName(options.port, ignored);
  const bool on_stdio = name && name->Type == dorvane::NetworkPortName::Kind::kStdio;
  dorvane::HeadlessPanel panel(on_stdio ? stderr : stdout, !options.allow_delete);
  if (options.timestamps) panel.StampLines();
  dorvane::Link link(panel, clock, ports);
  // A stop signal cuts the port's sleep short, so between requests the server may
  // sleep far longer than a window could and stay near 0 % of a core while idle.
  link.IdleWaitMs = 100;
  panel.AttachLink(link);
  dorvane::Server server(link, volume, panel);

  // Loads are served all the same; the operator hears why saves will fail.
  const std::string unwritable =
      dorvane::UnwritableRootLine(root->Root(), dorvane::WriteRefusal(root->Root()));
  if (!unwritable.empty()) panel.LogLine(unwritable);
  server.StartServing();
  // Serving ends by closing the main window only after a stop; a port that could not
  // be opened returns without it, and its two lines are already out.
  return panel.Closed() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (auto mistake = ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "dorvaned: %s\nTry 'dorvaned --help'.\n", mistake->c_str());
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
  } catch (const dorvane::OsError& error) {
    // The system's refusal that ended serving, in its words rather than its number.
    std::fflush(stdout);
    std::fprintf(stderr, "dorvaned: serving stopped: %s\n",
                 dorvane::PlainCause(error.Code()).c_str());
    return 1;
  } catch (const std::exception& error) {
    // An error that ends serving (a listen that cannot start among them): the
    // operator reads its text, as in the window's box.
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}
