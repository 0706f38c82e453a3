// Whether the tool could take the adapter channel's lock now, and who holds it if not.
#pragma once

#include <string>
#include <vector>

#include "can/channel_lock.h"
#include "preflight.h"

/// The finding for |channel| whose lock |lockName| was probed as |probe|. |holder| and
/// |owner| name the holding process and the owner of what has the lock's name, as the check
/// words them.
void judgeChannelLock(const std::string& channel, const std::string& lockName,
                      const ChannelLockProbe& probe, const std::string& holder,
                      const std::string& owner, std::vector<Finding>* findings);

/// Probes the tool's lock for |channel| as the tool would take it, without taking it, and
/// judges what it finds.
void checkChannelLock(const std::string& channel, std::vector<Finding>* findings);
