#include "config/fields.h"

#include "values/count.h"

namespace {

int set_text(std::optional<std::string>& field, const char* text) {
    if (text == nullptr) return -1;
    field = text;
    return 0;
}

int set_count(std::uint32_t& field, const char* text) {
    if (text == nullptr) return -1;
    return count_parse(text, field);
}

int set_delay(Duration& field, const char* text) {
    if (text == nullptr) return -1;
    return delay_parse(text, field);
}

int set_secret(Secret& field, const char* text) {
    if (text == nullptr) return -1;
    return secret_parse(text, field);
}

}  // namespace

int gateway_set_name(Gateway& gateway, const char* text) {
    if (text == nullptr) return -1;
    gateway_rename(gateway, text);
    return 0;
}
int gateway_set_address(Gateway& gateway, const char* text) {
    return set_text(gateway.address, text);
}
int gateway_set_port(Gateway& gateway, const char* text) {
    return set_text(gateway.port, text);
}
int gateway_set_copies(Gateway& gateway, const char* text) {
    return set_count(gateway.copies, text);
}
int gateway_set_delay(Gateway& gateway, const char* text) {
    return set_delay(gateway.delay, text);
}
int gateway_set_secret(Gateway& gateway, const char* text) {
    return set_secret(gateway.secret, text);
}

int host_set_name(Host& host, const char* text) {
    if (text == nullptr) return -1;
    host_rename(host, text);
    return 0;
}
int host_set_copies(Host& host, const char* text) {
    return set_count(host.copies, text);
}
int host_set_delay(Host& host, const char* text) {
    return set_delay(host.delay, text);
}
int host_set_secret(Host& host, const char* text) {
    return set_secret(host.secret, text);
}

int hostgroup_set_delay(HostGroup& group, const char* text) {
    return set_delay(group.delay, text);
}
