// The proxy daemon: receives magic packets on the listener's addresses and
// wakes the configured host whose MAC address they carry.
#pragma once

#include "config/registry.h"

// Opens the system log as "tesk" (facility LOG_DAEMON), where the daemon records every
// relay and its failures: detached, its standard streams are the null device.
void daemon_log_open();

// Binds one socket per target of `listener` and serves datagrams until a failure.
// Returns only then: -1 with errno (ENOENT for a listener without targets, or the
// failing socket, poll or recvfrom call's cause), or -2 when a bind fails.
[[nodiscard]] int daemon_run(Gateway& listener);
