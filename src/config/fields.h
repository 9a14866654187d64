// Field setters for the configuration reader: each takes a record and a value
// text, and returns 0 (or the parser's result) or a negative number when the text is
// absent or rejected, leaving the field as it was.
#pragma once

#include "config/registry.h"

[[nodiscard]] int gateway_set_name(Gateway& gateway, const char* text);
[[nodiscard]] int gateway_set_address(Gateway& gateway, const char* text);
[[nodiscard]] int gateway_set_port(Gateway& gateway, const char* text);
[[nodiscard]] int gateway_set_copies(Gateway& gateway, const char* text);
[[nodiscard]] int gateway_set_delay(Gateway& gateway, const char* text);
[[nodiscard]] int gateway_set_secret(Gateway& gateway, const char* text);

[[nodiscard]] int host_set_name(Host& host, const char* text);
[[nodiscard]] int host_set_copies(Host& host, const char* text);
[[nodiscard]] int host_set_delay(Host& host, const char* text);
[[nodiscard]] int host_set_secret(Host& host, const char* text);

[[nodiscard]] int hostgroup_set_delay(HostGroup& group, const char* text);
