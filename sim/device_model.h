#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelwik::sim {

using Frame = std::array<std::uint8_t, 4>;

// Chips the simulated socket can hold.
enum class SimChip {
  Empty,
  C51_12V,
  C51_5V,
  C52_12V,
  C52_5V,
  C55_12V,
  C55_5V,
  C1051,
  C2051,
  C4051
};

// Parses "89C51", "89C51-5V", "89C2051", "empty", ... (case-insensitive); nullopt when unknown.
std::optional<SimChip> ParseSimChip(const std::string& name);
std::string SimChipName(SimChip chip);
std::vector<std::string> SimChipNames();

// Every member has its initializer, so that a designated initializer may name only some.
struct Faults {
  bool neverAnswer = false;                  // no reply at all, the probe included
  std::optional<std::uint8_t> probeReply{};  // answer the probe with this byte instead of 0x55
  std::optional<long> stopAfterFrames{};     // answer the first N frames, then nothing
  std::optional<long> doubleReplyAtFrame{};  // frame N (1-based) gets two reply bytes
  std::optional<int> wrongByteAtAddress{};   // reads and write read-backs of A give a wrong byte
};

struct LockBits {
  bool lock1 = false, lock2 = false, lock3 = false;
};

// The programmer with a chip in its socket: answers every command with the bytes the real one
// would send back, and keeps a log of every frame it received.
class DeviceModel {
 public:
  explicit DeviceModel(SimChip chip, Faults faults = {});

  // The reply bytes for one frame: normally one, none when silent, two for the double-reply fault.
  std::vector<std::uint8_t> HandleFrame(const Frame& frame);

  SimChip Chip() const { return chip_; }
  // The socket: the chip taken out (it answers as an empty socket), or a new, erased chip of the
  // kind the model was made with put in. Faults and the frame count stay.
  void RemoveChip();
  void InsertChip();
  // The chip's flash (its own size; empty socket: none). Erased = 0xFF.
  std::vector<std::uint8_t>& Flash() { return flash_; }
  const std::vector<std::uint8_t>& Flash() const { return flash_; }
  const LockBits& Locks() const { return locks_; }
  const std::vector<Frame>& FrameLog() const { return frames_; }
  void ClearFrameLog() { frames_.clear(); }
  Faults& MutableFaults() { return faults_; }
  // The 20-pin chip's address counter (reset by CMD_START, advanced by CMD_NEXT_ADDRESS).
  int Address20() const { return address20_; }
  // Frames received since construction; unlike the log, never cleared (the faults count these).
  long FramesReceived() const { return framesReceived_; }
  // Manufacturer signature byte (0x1E for the maker of these chips).
  static constexpr std::uint8_t kMakerSignature = 0x1E;

 private:
  std::uint8_t Reply(const Frame& frame);
  std::uint8_t ReadCell(int address) const;
  std::uint8_t ProgramCell(int address, std::uint8_t data);
  SimChip chip_;
  SimChip kind_;  // what InsertChip puts in
  Faults faults_;
  std::vector<std::uint8_t> flash_;
  LockBits locks_;
  int address20_ = 0;
  long framesReceived_ = 0;
  std::vector<Frame> frames_;
};

}  // namespace zelwik::sim
