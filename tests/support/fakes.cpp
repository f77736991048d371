#include "tests/support/fakes.h"

#include <algorithm>

#include "link/crc8.h"
#include "link/os_error.h"

namespace dorvane::testing {

std::vector<Split> ProtocolSplits() {
  return {
      {"one_byte", {1}, {1}},
      {"a_few", {3, 1, 2}, {2, 3}},
      {"packet_and_more", {300}, {Whole}},
      {"ragged", {1, 258, 4, 17, 64}, {7, 250, 1}},
  };
}

namespace {
Split& CurrentSplit() {
  static Split split = ProtocolSplits().front();
  return split;
}
}  // namespace

const Split& SplitForNewPorts() { return CurrentSplit(); }
void SetSplitForNewPorts(const Split& split) { CurrentSplit() = split; }

std::size_t ScriptedPort::NextRun(const std::vector<std::size_t>& runs, std::size_t& at) {
  if (runs.empty()) return 1;
  const std::size_t run = runs[at % runs.size()];
  at = (at + 1) % runs.size();
  return run;
}

void ScriptedPort::Feed(const std::vector<std::uint8_t>& bytes) {
  for (std::uint8_t b : bytes) {
    script_.push_back({pending_silence_, b, false, {}});
    pending_silence_ = 0;
  }
}

void ScriptedPort::Silence(std::uint32_t ms) { pending_silence_ += ms; }

void ScriptedPort::Event(LineEvent event) {
  script_.push_back({pending_silence_, 0, true, std::move(event)});
  pending_silence_ = 0;
}

bool ScriptedPort::TakeLineEvent(LineEvent& event) {
  if (reported_.empty()) return false;
  event = std::move(reported_.front());
  reported_.pop_front();
  return true;
}

bool ScriptedPort::TakeOne(std::uint8_t& byte) {
  if (script_.empty()) {
    clock_.Advance(AttemptMs);
    if (pending_silence_ > 0) {  // a silence scripted last holds the drain back
      pending_silence_ -= pending_silence_ < AttemptMs ? pending_silence_ : AttemptMs;
      return false;
    }
    if (on_drained) on_drained();
    return false;
  }
  Item& head = script_.front();
  if (head.silence_ms > 0) {
    const std::uint32_t step = head.silence_ms < AttemptMs ? head.silence_ms : AttemptMs;
    head.silence_ms -= step;
    clock_.Advance(AttemptMs);
    return false;
  }
  if (head.is_event) {  // the line changed instead of a byte arriving
    reported_.push_back(std::move(head.event));
    script_.pop_front();
    clock_.Advance(AttemptMs);
    return false;
  }
  byte = head.byte;
  script_.pop_front();
  return true;
}

bool ScriptedPort::ReadAttempt(std::uint8_t& byte) {
  ++read_attempts;
  return TakeOne(byte);
}

std::size_t ScriptedPort::ReadSome(std::uint8_t* buffer, std::size_t count) {
  ++read_attempts;
  if (count == 0) return 0;
  if (!TakeOne(buffer[0])) return 0;
  const std::size_t run = std::min(count, NextRun(split_.reads, next_read_run_));
  std::size_t got = 1;
  // The rest of the run: only bytes that are there already, up to a silence or an
  // event, which a later attempt reaches.
  while (got < run && !script_.empty() && script_.front().silence_ms == 0 &&
         !script_.front().is_event) {
    buffer[got++] = script_.front().byte;
    script_.pop_front();
  }
  return got;
}

bool ScriptedPort::WriteAttempt(std::uint8_t byte) { return WriteSome(&byte, 1) == 1; }

std::size_t ScriptedPort::WriteSome(const std::uint8_t* data, std::size_t count) {
  ++write_attempts;
  if (count == 0) return 0;
  if (refuse_writes != 0) {
    if (refuse_writes > 0) --refuse_writes;
    ++refused_writes;
    clock_.Advance(AttemptMs);
    return 0;
  }
  const std::size_t run = std::min(count, NextRun(split_.writes, next_write_run_));
  std::size_t took = 0;
  while (took < run) {
    written.push_back(data[took]);
    ++took;
    if (on_written) on_written(data[took - 1]);
    if (refuse_writes != 0) break;  // the peer held CTS off after that byte
  }
  return took;
}

std::size_t ScriptedPort::Pending() const { return script_.size(); }

std::string FakePortProvider::PortNameFor(int choice) { return "COM" + std::to_string(choice + 1); }

std::string FakePortProvider::PortDescription(int choice) {
  if (choice >= 0 && static_cast<std::size_t>(choice) < descriptions.size()) {
    return descriptions[static_cast<std::size_t>(choice)];
  }
  return PortNameFor(choice);
}

std::unique_ptr<SerialPort> FakePortProvider::Open(const std::string& name) {
  opened.push_back(name);
  if (throw_on_configure) throw OsError(25);  // ENOTTY
  return std::move(port);
}

void RecordingPanel::LogLine(const std::string& text) {
  log.push_back(text);
  PumpEvents();
}

void RecordingPanel::PumpEvents() {
  ++pump_count;
  if (on_pump) on_pump();
}

std::vector<std::uint8_t> PacketBytes(std::uint8_t type, const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> bytes;
  const auto length = static_cast<std::uint8_t>(payload.size());
  const std::uint8_t header[2] = {type, length};
  bytes.push_back(type);
  bytes.push_back(length);
  bytes.push_back(Crc8Of(header, 2));
  if (!payload.empty()) {
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    bytes.push_back(Crc8Of(payload.data(), payload.size()));
  }
  return bytes;
}

std::vector<std::uint8_t> PacketBytes(std::uint8_t type, const std::string& payload) {
  return PacketBytes(type, std::vector<std::uint8_t>(payload.begin(), payload.end()));
}

std::vector<std::uint8_t> StatusBytes(std::uint8_t code) {
  return PacketBytes(code, std::string());
}

LinkRig::LinkRig() : link(panel, clock, ports) {
  auto scripted = std::make_unique<ScriptedPort>(clock);
  port = scripted.get();
  link.PortHandle = std::move(scripted);
}

void LinkRig::StopWhenDrained() {
  port->on_drained = [this] { link.StopRequested = true; };
}

}  // namespace dorvane::testing
