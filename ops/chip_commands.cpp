// Erasing, locking and the signatures: short fixed command series picked by chip group.
#include <optional>
#include <vector>

#include "link/commands.h"
#include "ops/frame.h"

namespace zelwik {

using detail::FrameSpec;
using detail::Framing;

namespace {

// One frame of a series: a command of the chip's group (from the chip table) or a fixed one.
struct Step {
  int GroupCommands::*groupCommand = nullptr;
  std::uint8_t fixed = 0;
};
Step Group(int GroupCommands::*member) { return Step{member, 0}; }
Step Fixed(std::uint8_t command) { return Step{nullptr, command}; }

// Sends the series and returns the last reply; nothing at all is sent when the group lacks one of
// its commands (kNoCommand in the chip table).
std::optional<std::uint8_t> SendSeries(Link& link, const GroupCommands& commands,
                                       const std::vector<Step>& steps) {
  for (const Step& step : steps)
    if (step.groupCommand && commands.*step.groupCommand == kNoCommand) return {};
  std::uint8_t reply = 0;
  for (const Step& step : steps) {
    const auto command =
        step.groupCommand ? static_cast<std::uint8_t>(commands.*step.groupCommand) : step.fixed;
    reply = link.Transact(command);
  }
  return reply;
}

int GroupIndex(ChipGroup group) {
  switch (group) {
    case ChipGroup::Pin40_12V:
      return 0;
    case ChipGroup::Pin40_5V:
      return 1;
    default:
      return 2;
  }
}

struct GroupPlan {
  std::vector<Step> steps;
  const char* text;  // shown after the frames
};

struct CommandPlan {
  ChipCommand command;
  bool keepsErrorMessage;
  GroupPlan groups[3];  // 40-pin 12 V, 40-pin 5 V, 20-pin
};

const std::vector<CommandPlan>& CommandPlans() {
  using G = GroupCommands;
  static const std::vector<CommandPlan> plans = {
      {ChipCommand::Erase,
       false,
       {{{Group(&G::erase)}, kTextErased},
        {{Group(&G::erase)}, kTextErased},
        {{Group(&G::erase)}, kTextErased}}},
      {ChipCommand::Lock1,
       false,
       {{{Group(&G::lock1)}, kTextLocked},
        {{Group(&G::lock1)}, kTextLockedFiveVolt},
        {{Group(&G::lock1)}, kTextLocked}}},
      {ChipCommand::Lock2,
       false,
       {{{Group(&G::lock2)}, kTextLocked},
        {{Group(&G::lock2)}, kTextLocked},
        {{Group(&G::lock2)}, kTextLocked}}},
      // The 20-pin chips have no lock bit 3; the chip table says so with kNoCommand.
      {ChipCommand::Lock3,
       true,
       {{{Group(&G::lock3)}, kTextLocked},
        {{Group(&G::lock3)}, kTextLocked},
        {{Group(&G::lock3)}, kTextLocked}}},
      // The 20-pin programmer needs a restart between its two lock bits.
      {ChipCommand::LockAll,
       false,
       {{{Group(&G::lock1), Group(&G::lock2), Group(&G::lock3)}, kTextLocked},
        {{Group(&G::lock1), Group(&G::lock2), Group(&G::lock3)}, kTextLocked},
        {{Group(&G::lock1), Fixed(CMD_STOP), Fixed(CMD_START), Group(&G::lock2)}, kTextLocked}}},
  };
  return plans;
}

struct SignaturePlan {
  Signature which;
  Framing framing;
  int pauseMs;
  const char* text;
  std::vector<Step> pin40, pin20;  // the last frame's reply is the signature byte
};

const std::vector<SignaturePlan>& SignaturePlans() {
  using G = GroupCommands;
  static const std::vector<SignaturePlan> plans = {
      {Signature::Device,
       Framing::BodyOpensFrameCloses,
       kPauseTransferMs,
       kTextDeviceSignature,
       {Group(&G::sigDevice)},
       {Group(&G::sigDevice)}},
      {Signature::Maker,
       Framing::AroundBody,
       kPauseTransferMs,
       kTextMakerSignature,
       {Group(&G::sigMaker)},
       {Fixed(CMD_STOP), Fixed(CMD_START), Group(&G::sigMaker)}},
      // The 20-pin chips have no voltage signature (kNoCommand in the chip table).
      {Signature::Voltage,
       Framing::AroundBody,
       kPauseChipCommandMs,
       kTextVoltageSignature,
       {Group(&G::sigVoltage)},
       {Group(&G::sigVoltage)}},
  };
  return plans;
}

}  // namespace

OpResult RunChipCommand(State& state, View& view, ChipCommand command) {
  const CommandPlan* plan = nullptr;
  for (const CommandPlan& p : CommandPlans())
    if (p.command == command) plan = &p;
  if (!plan) return OpResult::NotSupported;
  const FrameSpec shape{.framing = Framing::AroundBody,
                        .pauseMs = kPauseChipCommandMs,
                        .keepsErrorMessage = plan->keepsErrorMessage};
  return detail::RunOperation(state, view, shape,
                              [&](const ChipInfo& chip, const GroupCommands& commands) {
                                const GroupPlan& group = plan->groups[GroupIndex(chip.group)];
                                if (!SendSeries(state.link, commands, group.steps)) {
                                  view.SetStatus(kTextNoSuchLock);
                                  return OpResult::NotSupported;
                                }
                                view.SetStatus(group.text);
                                return OpResult::Success;
                              });
}

OpResult ShowSignature(State& state, View& view, Signature which) {
  const SignaturePlan* plan = nullptr;
  for (const SignaturePlan& p : SignaturePlans())
    if (p.which == which) plan = &p;
  if (!plan) return OpResult::NotSupported;
  const FrameSpec shape{.framing = plan->framing, .pauseMs = plan->pauseMs};
  return detail::RunOperation(
      state, view, shape, [&](const ChipInfo& chip, const GroupCommands& commands) {
        const auto& steps = IsPin40(chip.group) ? plan->pin40 : plan->pin20;
        const std::optional<std::uint8_t> reply = SendSeries(state.link, commands, steps);
        if (!reply) {
          view.SetStatus(kTextNoSuchSignature);
          return OpResult::NotSupported;
        }
        view.SetStatus(plan->text + ByteToHexText(*reply) + "H");
        return OpResult::Success;
      });
}

}  // namespace zelwik
