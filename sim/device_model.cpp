#include "sim/device_model.h"

#include "link/chips.h"
#include "link/commands.h"

namespace zelwik::sim {

namespace {

enum class Family { None, Pin40, Pin20 };

struct ChipFacts {
  SimChip chip;
  const char* name;
  Family family;
  bool fiveVolt;
  std::uint8_t deviceSignature;
  int flashSize;
};

constexpr ChipFacts kChips[] = {
    {SimChip::Empty, "empty", Family::None, false, 0xFF, 0},
    {SimChip::C51_12V, "89C51", Family::Pin40, false, 0x51, 4096},
    {SimChip::C51_5V, "89C51-5V", Family::Pin40, true, 0x51, 4096},
    {SimChip::C52_12V, "89C52", Family::Pin40, false, 0x52, 8192},
    {SimChip::C52_5V, "89C52-5V", Family::Pin40, true, 0x52, 8192},
    {SimChip::C55_12V, "89C55", Family::Pin40, false, 0x55, 20480},
    {SimChip::C55_5V, "89C55-5V", Family::Pin40, true, 0x55, 20480},
    {SimChip::C1051, "89C1051", Family::Pin20, false, 0x11, 1024},
    {SimChip::C2051, "89C2051", Family::Pin20, false, 0x21, 2048},
    {SimChip::C4051, "89C4051", Family::Pin20, false, 0x41, 4096},
};

const ChipFacts& FactsOf(SimChip chip) {
  for (const ChipFacts& f : kChips) {
    if (f.chip == chip) return f;
  }
  return kChips[0];
}

// What an idle bus reads as: no chip drives the data lines.
constexpr std::uint8_t kBus = 0xFF;
// The reply to commands whose answer the PC discards.
constexpr std::uint8_t kDone = 0x00;
// Saturates the 20-pin counter well past every chip so it cannot overflow.
constexpr int kAddressLimit = 0x10000;

}  // namespace

std::optional<SimChip> ParseSimChip(const std::string& name) {
  std::string n = Lower(name);
  if (n.size() > 4 && n.compare(n.size() - 4, 4, "-12v") == 0) n.resize(n.size() - 4);
  for (const ChipFacts& f : kChips) {
    if (n == Lower(f.name)) return f.chip;
  }
  return std::nullopt;
}

std::string SimChipName(SimChip chip) { return FactsOf(chip).name; }

std::vector<std::string> SimChipNames() {
  std::vector<std::string> names;
  for (const ChipFacts& f : kChips) names.emplace_back(f.name);
  return names;
}

DeviceModel::DeviceModel(SimChip chip, Faults faults)
    : chip_(chip),
      kind_(chip),
      faults_(faults),
      flash_(static_cast<std::size_t>(FactsOf(chip).flashSize), 0xFF) {}

void DeviceModel::RemoveChip() {
  chip_ = SimChip::Empty;
  flash_.clear();
  locks_ = {};
}

void DeviceModel::InsertChip() {
  chip_ = kind_;
  flash_.assign(static_cast<std::size_t>(FactsOf(kind_).flashSize), 0xFF);
  locks_ = {};
  address20_ = 0;
}

std::uint8_t DeviceModel::ReadCell(int address) const {
  if (address < 0 || address >= static_cast<int>(flash_.size())) return kBus;
  std::uint8_t value = flash_[static_cast<std::size_t>(address)];
  if (faults_.wrongByteAtAddress && *faults_.wrongByteAtAddress == address) value ^= 0xFF;
  return value;
}

std::uint8_t DeviceModel::ProgramCell(int address, std::uint8_t data) {
  if (address >= 0 && address < static_cast<int>(flash_.size())) {
    // Programming can only clear bits; only an erase sets them again.
    flash_[static_cast<std::size_t>(address)] &= data;
  }
  return ReadCell(address);
}

std::vector<std::uint8_t> DeviceModel::HandleFrame(const Frame& frame) {
  frames_.push_back(frame);
  ++framesReceived_;
  if (faults_.neverAnswer) return {};
  if (faults_.stopAfterFrames && framesReceived_ > *faults_.stopAfterFrames) return {};
  const std::uint8_t reply = Reply(frame);
  if (faults_.doubleReplyAtFrame && framesReceived_ == *faults_.doubleReplyAtFrame) {
    return {reply, reply};
  }
  return {reply};
}

std::uint8_t DeviceModel::Reply(const Frame& frame) {
  const ChipFacts& facts = FactsOf(chip_);
  const std::uint8_t command = frame[0];
  const int address = (frame[1] << 8) | frame[2];
  const std::uint8_t data = frame[3];

  switch (command) {
    case CMD_PROBE:
      return faults_.probeReply.value_or(kProbeAnswer);
    case CMD_START:
      address20_ = 0;
      return kDone;
    case CMD_STOP:
      return kDone;
    default:
      break;
  }

  if (facts.family == Family::Pin40) {
    // The other voltage's programming commands leave the chip as it is.
    const bool rightVoltage12 = !facts.fiveVolt;
    const bool rightVoltage5 = facts.fiveVolt;
    switch (command) {
      case CMD_READ:
        return ReadCell(address);
      case CMD_WRITE_12V:
        return rightVoltage12 ? ProgramCell(address, data) : ReadCell(address);
      case CMD_WRITE_5V:
        return rightVoltage5 ? ProgramCell(address, data) : ReadCell(address);
      case CMD_ERASE_12V:
      case CMD_ERASE_5V:
        if ((command == CMD_ERASE_12V) == rightVoltage12) {
          std::fill(flash_.begin(), flash_.end(), 0xFF);
          locks_ = {};
        }
        return kDone;
      case CMD_LOCK1_12V:
      case CMD_LOCK2_12V:
      case CMD_LOCK3_12V:
      case CMD_LOCK1_5V:
      case CMD_LOCK2_5V:
      case CMD_LOCK3_5V: {
        // Bits 1 to 3 of either voltage; only the chip's own voltage sets them.
        const bool twelve = command <= CMD_LOCK3_12V;
        if (twelve ? rightVoltage12 : rightVoltage5) {
          const int bit = command - (twelve ? CMD_LOCK1_12V : CMD_LOCK1_5V);
          (bit == 0 ? locks_.lock1 : bit == 1 ? locks_.lock2 : locks_.lock3) = true;
        }
        return kDone;
      }
      case CMD_SIG_DEVICE:
        return facts.deviceSignature;
      case CMD_SIG_MAKER:
        return kMakerSignature;
      case CMD_SIG_VOLTAGE:
        return facts.fiveVolt ? 0x05 : 0xFF;
      default:
        return kBus;
    }
  }

  if (facts.family == Family::Pin20) {
    switch (command) {
      case CMD_READ_20:
        return ReadCell(address20_);
      case CMD_WRITE_20:
        return ProgramCell(address20_, data);
      case CMD_NEXT_ADDRESS:
        if (address20_ < kAddressLimit) ++address20_;
        return kDone;
      case CMD_ERASE_20:
        std::fill(flash_.begin(), flash_.end(), 0xFF);
        locks_ = {};
        return kDone;
      case CMD_LOCK1_20:
        locks_.lock1 = true;
        return kDone;
      case CMD_LOCK2_20:
        locks_.lock2 = true;
        return kDone;
      case CMD_SIG_MAKER_20:
        return kMakerSignature;
      case CMD_SIG_DEVICE_20:
        return facts.deviceSignature;
      default:
        return kBus;
    }
  }

  // Empty socket: nothing drives the bus.
  return kBus;
}

}  // namespace zelwik::sim
