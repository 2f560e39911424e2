#pragma once

#include <string>
#include <string_view>

#include "sources/model/WebAddress.h"

namespace velto {

// Services run beside the program (a local fake, a demo) answer with plain-http addresses on
// a loopback host. Those stay http only while such a service is configured; every other
// address of a service's answer is upgraded to https as before.
namespace LoopbackAddresses {

// 127.0.0.1, ::1 (bracketed or not) and localhost, case-insensitively.
bool isLoopbackHost(std::string_view host);
// Set once at start-up when a service origin is http on a loopback host.
void setKeepsHTTP(bool keeps);
bool keepsHTTP();
// "http" for an http address on a loopback host while kept, else "https".
std::string upgradedScheme(const WebAddress& address);

}  // namespace LoopbackAddresses
}  // namespace velto
