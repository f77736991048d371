// Port names for links without a cable, on top of the host's devices:
//   tcp-listen:[HOST:]PORT   serve over TCP (HOST defaults to 127.0.0.1)
//   stdio                    standard input and output, for an emulator's pipe
// either followed by ",ip232" for an emulator's ip232 escaping. Every other name
// goes to the provider underneath, so the front ends need no case of their own.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "link/port_provider.h"
#include "ports/host_port_text.h"

namespace dorvane {

inline constexpr const char* TcpListenPrefix = "tcp-listen:";
inline constexpr const char* StdioPortName = "stdio";
inline constexpr const char* Ip232Suffix = ",ip232";
// Where a listen without a host binds: only this machine can reach it.
inline constexpr const char* DefaultListenHost = "127.0.0.1";

// A port name taken apart; kNone for a device's name.
struct NetworkPortName {
  enum class Kind { kNone, kListen, kStdio } Type = Kind::kNone;
  HostPort Listen;  // for kListen
  bool Ip232 = false;
};

// Takes `name` apart; sets `error` and returns nothing when it has a network prefix
// but the rest is wrong, or ",ip232" follows a device.
std::optional<NetworkPortName> ParseNetworkPortName(const std::string& name, std::string& error);

class NetworkPortProvider : public PortProvider {
 public:
  // Keeps a reference to `devices`, which must outlive it.
  explicit NetworkPortProvider(PortProvider& devices) : devices_(devices) {}

  std::string PortNameFor(int choice) override { return devices_.PortNameFor(choice); }

  // A network name opens its port (throws NetworkError when a listen cannot start
  // or the name is malformed); any other goes to the devices.
  std::unique_ptr<SerialPort> Open(const std::string& name) override;

  // Network links fail by throwing; a device's cause is the devices' own.
  std::string OpenFailureCause() const override { return devices_.OpenFailureCause(); }
  std::string PortDescription(int choice) override { return devices_.PortDescription(choice); }

 private:
  PortProvider& devices_;
};

}  // namespace dorvane
