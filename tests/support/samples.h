// Configurations that several suites read.
#pragma once

// The sample file of the configuration manual: two gateways, two loose hosts and two
// groups, with a count for the default gateway.
inline constexpr const char* kSampleConfig =
    "; gateways come first: none may follow a section header\n"
    "copies 2\n"
    "gateway office address 192.168.10.255 port 9 delay 1s\n"
    "gateway lab address 192.168.20.255 copies 3\n"
    "host nas mac 00:11:22:33:44:55 via lab\n"
    "host 00:11:22:33:44:66 name printer\n"
    "[office]\n"
    "delay 2s\n"
    "host pc1 mac 00:11:22:33:44:77\n"
    "host pc2 mac 00:11:22:33:44:88 copies 5\n"
    "[night]\n"
    "host pc1\n"
    "host nas\n";
