#include <cerrno>

#include "link/commands.h"
#include "link/link.h"
#include "link/port_list.h"

namespace zelwik {

void ProbePorts(std::vector<PortInfo>& ports) {
  for (PortInfo& port : ports) {
    if (port.inUse) {
      port.probe = ProbeResult::InUse;
      continue;
    }
    Link link;
    if (!link.OpenLink(port.device)) {
      // The exclusive open is refused to a port another program holds: nothing was sent.
      const bool busy = link.LastErrno() == EBUSY;
      port.inUse = busy;
      port.probe = busy ? ProbeResult::InUse : ProbeResult::CannotOpen;
      port.openError = link.LastError();
      port.openErrno = link.LastErrno();
      continue;
    }
    try {
      const std::optional<std::uint8_t> reply = link.Probe();
      port.reply = reply.value_or(0);
      port.probe = !reply                   ? ProbeResult::NoAnswer
                   : *reply == kProbeAnswer ? ProbeResult::Programmer
                                            : ProbeResult::OtherReply;
    } catch (const LinkFault& fault) {
      port.probe = ProbeResult::CannotOpen;
      port.openError = fault.what();
    }
    // Closing flushes whatever a device that is not the programmer sent after the probe.
    link.CloseLink();
  }
}

}  // namespace zelwik
