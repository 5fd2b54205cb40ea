#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zelwik {

class Link;

enum class ChipGroup { None, Pin40_12V, Pin40_5V, Pin20 };

// Commands of one chip group. kNoCommand marks what the group lacks.
inline constexpr int kNoCommand = -1;
struct GroupCommands {
  bool sequential;  // 20-pin: no address sent, CMD_NEXT_ADDRESS after each data byte
  int erase;
  int write;
  int read;
  int lock1, lock2, lock3;
  int sigDevice, sigMaker, sigVoltage;
};

// The ChipType values. 2, 8 and 9 (the 5 V variants) come from detection only.
enum class ChipCode : int {
  Detect = 0,
  C89C51 = 1,
  C89C51_5V = 2,
  C89C52 = 3,
  C89C55 = 4,
  C89C1051 = 5,
  C89C2051 = 6,
  C89C4051 = 7,
  C89C52_5V = 8,
  C89C55_5V = 9,
  Other = 10,
};
inline constexpr int ToInt(ChipCode code) { return static_cast<int>(code); }

struct ChipInfo {
  ChipCode code;            // the ChipType value
  const char* name;         // "89C51"
  const char* label;        // chipLabel text; nullptr for the codes only detection yields
  const char* menuCaption;  // chip menu caption; nullptr when not in the menu
  const char* cliName;      // zelwik-cli --chip; nullptr for the codes only detection yields
  ChipGroup group;
  int memorySize;  // bytes: the capacity for programming and the size of a read
};

// Code 0 (detect) and the chips 1 to 10, in code order.
std::span<const ChipInfo> AllChips();
// Code 0 (detect) and the chips 1 to 10; nullptr for any other code.
const ChipInfo* FindChip(int code);
inline const ChipInfo* FindChip(ChipCode code) { return FindChip(ToInt(code)); }
// The chip of a command-line name in any case ("auto", "89c2051", "other"); nullptr when unknown.
const ChipInfo* FindChipByName(std::string_view cliName);

// ASCII lower case, for names the user may type in either case.
std::string Lower(std::string_view text);
// Commands of a group; nullptr for ChipGroup::None.
const GroupCommands* CommandsOf(ChipGroup group);
inline bool IsPin40(ChipGroup g) { return g == ChipGroup::Pin40_12V || g == ChipGroup::Pin40_5V; }

// The chip in the socket from its signature bytes, Detect when nothing matched. Sends eight frames
// on an open link whose probe was answered.
ChipCode DetectChip(Link& link);

}  // namespace zelwik
