// The answer to a datagram on the discovery port: INFO for "ENQ:network", NAK otherwise.
#pragma once

#include <span>
#include <string>

#include "control/net_info.h"
#include "control/visca_framing.h"

// `hostname` is the name at the time of the reply; only its first 8 characters are sent.
visca::Bytes discoveryReply(const NetInfo& info, std::span<const uint8_t> enquiry, const std::string& hostname);
// The current host name, as the reply carries it.
std::string currentHostname();
