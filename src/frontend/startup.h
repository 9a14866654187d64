// Start-up and the run modes: the records that always exist, the configuration
// files, resolution of every gateway into targets with open sockets, then export,
// daemon or sending.
#pragma once

// Creates the gateway "default" (255.255.255.255 port 7, one copy, and with it the
// group "default") and the group "all" in the registries. 0, or -1 when they cannot be made.
[[nodiscard]] int startup_records();

// Resolves every gateway (its address and port, or the -a/-p overrides) into targets,
// each with a broadcast-capable UDP socket. A failure ends the process with status 1.
void resolve_gateways();

// The whole program; returns the exit status.
int tesk_main(int argc, char** argv);
