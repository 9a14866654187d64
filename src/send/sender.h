// Waking hosts: one host through every target of its gateway with copies and
// delays, and a name turned into the hosts it stands for.
#pragma once

#include "config/registry.h"

// Sends the magic packet for `host` to every target of its gateway (the -g gateway, else
// its own, else the default), copy after copy, writing the -g, -c, -t and -s overrides into
// the host first. Returns 0 when every copy was handed to the system; -1 with errno (EINVAL
// for a host without a MAC address, an unknown -g gateway or a rejected override; the
// system's cause for a failed send or sleep); -3 when the packet cannot be allocated.
[[nodiscard]] int host_send(Host* host);

// Wakes the group called `name` (its members in order, the group's delay between them),
// else the host of that name, else a new host whose MAC address comes from the ethers
// database or the name itself. 0, or the first failing host_send result, or -1 with errno.
[[nodiscard]] int send_name(const char* name);

// Sleeps `delay` to its end, resuming after signals with the time that remains.
// 0, or -1 with errno from nanosleep.
[[nodiscard]] int sleep_delay(const Duration& delay);
