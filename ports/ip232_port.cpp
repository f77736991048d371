#include "ports/ip232_port.h"

#include <cstdio>

namespace dorvane {

void Ip232Port::Signal(std::uint8_t value) {
  if (side_ == Ip232Side::kEmulator) {
    line_state_ = value & (Ip232Dcd | Ip232Ri);
    return;
  }
  if (value == Ip232DtrDropped) {
    events_.push_back({"C64 dropped DTR", true});
  } else if (value == Ip232DtrRaised) {
    events_.push_back({"C64 raised DTR", false});
  } else {
    char text[64];
    std::snprintf(text, sizeof text, "Unknown ip232 signal $%02X ignored", value);
    events_.push_back({text, false});
  }
}

void Ip232Port::ResetStream() {
  decoder_.Reset();
  carry_.clear();
  carry_at_ = 0;
  owed_.reset();
}

std::size_t Ip232Port::ReadSome(std::uint8_t* buffer, std::size_t count) {
  std::size_t produced = 0;
  while (produced < count && events_.empty()) {
    if (carry_at_ == carry_.size()) {
      // Another read of the inner port might wait a whole attempt: only when nothing
      // came yet, or only the first half of an escape.
      if (produced > 0) break;
      carry_.resize(count);
      carry_.resize(inner_->ReadSome(carry_.data(), count));
      carry_at_ = 0;
      if (carry_.empty()) break;
    }
    const Ip232Decoder::Step step = decoder_.Decode(
        carry_.data() + carry_at_, carry_.size() - carry_at_, buffer + produced, count - produced);
    carry_at_ += step.consumed;
    produced += step.produced;
    if (step.signal) Signal(*step.signal);
  }
  return produced;
}

std::size_t Ip232Port::WriteSome(const std::uint8_t* data, std::size_t count) {
  if (count == 0) return 0;
  if (owed_) {
    if (inner_->WriteSome(&*owed_, 1) == 0) return 0;
    owed_.reset();
  }
  escaped_.clear();
  Ip232EscapeData(data, count, escaped_);
  const std::size_t took = inner_->WriteSome(escaped_.data(), escaped_.size());
  // Which data bytes that covers: a 0xFF is two bytes on the line.
  std::size_t raw = 0;
  std::size_t done = 0;
  while (done < count && raw < took) {
    const std::size_t width = data[done] == Ip232Escape ? 2 : 1;
    if (raw + width > took) owed_ = Ip232Escape;  // only its first half went
    raw += width;
    ++done;
  }
  return done;
}

void Ip232Port::AwaitInput(std::chrono::milliseconds longest) {
  if (!events_.empty() || carry_at_ < carry_.size()) return;
  inner_->AwaitInput(longest);
}

bool Ip232Port::TakeLineEvent(LineEvent& event) {
  if (!events_.empty()) {
    event = std::move(events_.front());
    events_.pop_front();
    return true;
  }
  if (!inner_->TakeLineEvent(event)) return false;
  if (event.EndsSession) ResetStream();
  return true;
}

}  // namespace dorvane
