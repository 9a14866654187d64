// The proxy daemon: receives magic packets on the listener's addresses and
// wakes the configured host whose MAC address they carry.
#pragma once

#include "config/registry.h"

// Binds one socket per target of `listener` and serves datagrams until a failure.
// Returns only then: -1 with errno (ENOENT for a listener without targets, or the
// failing socket, poll or recvfrom call's cause), or -2 when a bind fails.
[[nodiscard]] int daemon_run(Gateway& listener);
