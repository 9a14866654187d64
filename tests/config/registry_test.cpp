#include "config/registry.h"

#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/fields.h"
#include "frontend/options.h"
#include "frontend/startup.h"

namespace {

class RegistryTest : public testing::Test {
  protected:
    void SetUp() override {
        registry = Registry{};
        options = Options{};
    }
};

std::vector<std::string> member_names(const HostGroup& group) {
    std::vector<std::string> names;
    for (const Host* host : group.members)
        names.push_back(host->name);
    return names;
}

std::vector<std::string> group_names() {
    std::vector<std::string> names;
    for (const HostGroup& group : registry.hostgroups)
        names.push_back(group.name);
    return names;
}

using Names = std::vector<std::string>;

constexpr MacAddress kMac55{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}};

TEST_F(RegistryTest, StartupRecords) {
    ASSERT_EQ(startup_records(), 0);
    ASSERT_NE(registry.default_gateway, nullptr);
    ASSERT_NE(registry.all_group, nullptr);
    EXPECT_EQ(registry.default_gateway, &registry.gateways.front());
    EXPECT_EQ(registry.gateways.size(), 1u);
    EXPECT_EQ(registry.default_gateway->name, "default");
    EXPECT_EQ(registry.default_gateway->address, "255.255.255.255");
    EXPECT_EQ(registry.default_gateway->port, "7");
    EXPECT_EQ(registry.default_gateway->copies, 1u);
    EXPECT_EQ(group_names(), (Names{"default", "all"}));
    EXPECT_EQ(registry.all_group, hostgroup_find("all"));
    EXPECT_TRUE(registry.hosts.empty());
}

TEST_F(RegistryTest, LookupsOfNullAndUnknownNames) {
    ASSERT_EQ(startup_records(), 0);
    errno = EPERM;
    EXPECT_EQ(gateway_find(nullptr), nullptr);
    EXPECT_EQ(host_find(nullptr), nullptr);
    EXPECT_EQ(hostgroup_find(nullptr), nullptr);
    EXPECT_EQ(hostgroup_get(nullptr), nullptr);
    EXPECT_EQ(host_get(nullptr), nullptr);
    EXPECT_EQ(errno, EPERM);

    EXPECT_EQ(gateway_find("nowhere"), nullptr);
    EXPECT_EQ(errno, ENXIO);
    errno = 0;
    EXPECT_EQ(host_find("nobody"), nullptr);
    EXPECT_EQ(errno, ENXIO);
    errno = 0;
    EXPECT_EQ(hostgroup_find("none"), nullptr);
    EXPECT_EQ(errno, ENXIO);
    // Names compare byte for byte, case included.
    EXPECT_EQ(gateway_find("Default"), nullptr);
    EXPECT_EQ(hostgroup_find("al"), nullptr);
    EXPECT_EQ(hostgroup_find("all "), nullptr);

    EXPECT_EQ(registry.gateways.size(), 1u);
    EXPECT_EQ(registry.hostgroups.size(), 2u);
    EXPECT_TRUE(registry.hosts.empty());
}

TEST_F(RegistryTest, GatewayGetCreatesItsGroupOnce) {
    ASSERT_EQ(startup_records(), 0);
    errno = 0;
    Gateway* office = gateway_get("office");
    ASSERT_NE(office, nullptr);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(office, &registry.gateways.back());
    EXPECT_EQ(office->name, "office");
    EXPECT_EQ(office->address, "office");
    EXPECT_EQ(office->port, std::nullopt);
    EXPECT_EQ(office->copies, 0u);
    EXPECT_FALSE(duration_is_set(office->delay));
    EXPECT_EQ(office->secret.length, 0u);
    EXPECT_TRUE(office->targets.empty());
    EXPECT_EQ(group_names(), (Names{"default", "all", "office"}));
    HostGroup* group = hostgroup_find("office");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->count(), 0u);

    // The address is a copy of its own: renaming does not change it.
    ASSERT_EQ(gateway_set_name(*office, "renamed"), 0);
    EXPECT_EQ(office->address, "office");
    ASSERT_EQ(gateway_set_name(*office, "office"), 0);

    EXPECT_EQ(gateway_get("office"), office);
    EXPECT_EQ(registry.gateways.size(), 2u);
    EXPECT_EQ(registry.hostgroups.size(), 3u);

    // A gateway named like an existing group uses that group.
    ASSERT_NE(hostgroup_get("lab"), nullptr);
    HostGroup* lab_group = hostgroup_find("lab");
    Gateway* lab = gateway_get("lab");
    ASSERT_NE(lab, nullptr);
    EXPECT_EQ(group_names(), (Names{"default", "all", "office", "lab"}));
    EXPECT_EQ(hostgroup_find("lab"), lab_group);
}

TEST_F(RegistryTest, NamelessGateways) {
    ASSERT_EQ(startup_records(), 0);
    Gateway* first = gateway_get(nullptr);
    Gateway* second = gateway_get(nullptr);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(registry.gateways.size(), 3u);
    for (Gateway* gateway : {first, second}) {
        EXPECT_EQ(gateway->name, std::nullopt);
        EXPECT_EQ(gateway->address, std::nullopt);
        EXPECT_EQ(gateway->port, std::nullopt);
    }
    EXPECT_EQ(registry.hostgroups.size(), 2u);
    // No name finds them, not even the empty one.
    EXPECT_EQ(gateway_find(""), nullptr);
    EXPECT_EQ(registry.gateways.size(), 3u);
    Host* host = host_get("00:11:22:33:44:55");
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(host_set_via(host, ""), -1);
    EXPECT_EQ(host->gateway, nullptr);
}

TEST_F(RegistryTest, HostGetTakesTheMacOnce) {
    ASSERT_EQ(startup_records(), 0);
    errno = 0;
    Host* pc = host_get("00:11:22:33:44:55");
    ASSERT_NE(pc, nullptr);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(pc->name, "00:11:22:33:44:55");
    EXPECT_EQ(pc->mac, kMac55);
    EXPECT_EQ(pc->gateway, nullptr);
    EXPECT_EQ(pc->copies, 0u);
    EXPECT_EQ(registry.all_group->count(), 0u);  // joining groups is the reader's business

    errno = 0;
    Host* unknown = host_get("no-such-machine");
    ASSERT_NE(unknown, nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(unknown->name, "no-such-machine");
    EXPECT_TRUE(mac_is_zero(unknown->mac));

    EXPECT_EQ(registry.hosts.size(), 2u);
    EXPECT_EQ(&registry.hosts.front(), pc);
    EXPECT_EQ(&registry.hosts.back(), unknown);

    // A second call finds the record and does not derive the MAC again.
    pc->mac.bytes[5] = 0x99;
    errno = 0;
    EXPECT_EQ(host_get("00:11:22:33:44:55"), pc);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(pc->mac.bytes[5], 0x99);
    EXPECT_EQ(host_get("no-such-machine"), unknown);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(registry.hosts.size(), 2u);
}

TEST_F(RegistryTest, MacParse) {
    MacAddress mac = kMac55;
    errno = EPERM;
    EXPECT_EQ(mac_parse(nullptr, mac), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(mac_parse("no-such-machine", mac), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(mac_parse("00:11:22:33:44", mac), -1);
    EXPECT_EQ(mac_parse("", mac), -1);
    EXPECT_EQ(mac, kMac55);

    EXPECT_EQ(mac_parse("0:a:B:cc:DD:ff", mac), 0);
    EXPECT_EQ(mac, (MacAddress{{0x00, 0x0a, 0x0b, 0xcc, 0xdd, 0xff}}));
    EXPECT_EQ(mac_text(mac), "00:0a:0b:cc:dd:ff");
}

TEST_F(RegistryTest, HostgroupGet) {
    errno = 0;
    HostGroup* group = hostgroup_get("night");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(group->name, "night");
    EXPECT_EQ(group->count(), 0u);
    EXPECT_EQ(group->capacity(), 64u);
    EXPECT_FALSE(duration_is_set(group->delay));

    errno = 0;
    EXPECT_EQ(hostgroup_get("night"), group);
    EXPECT_EQ(errno, 0);
    HostGroup* empty = hostgroup_get("");
    ASSERT_NE(empty, nullptr);
    EXPECT_NE(empty, group);
    EXPECT_EQ(group_names(), (Names{"night", ""}));
}

TEST_F(RegistryTest, HostgroupAddKeepsOrderAndGrowsBy64) {
    ASSERT_EQ(startup_records(), 0);
    HostGroup* group = hostgroup_get("many");
    ASSERT_NE(group, nullptr);
    errno = EPERM;
    EXPECT_EQ(hostgroup_add(nullptr, host_get("00:00:00:00:00:01")), -1);
    EXPECT_EQ(hostgroup_add(group, nullptr), -1);
    EXPECT_EQ(group->count(), 0u);

    std::vector<Host*> hosts;
    for (int i = 0; i < 130; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "host%03d", i);
        Host* host = host_get(name);
        ASSERT_NE(host, nullptr);
        hosts.push_back(host);
    }
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(hostgroup_add(group, hosts[i]), i + 1);
    EXPECT_EQ(group->capacity(), 64u);
    // A member is never added twice.
    EXPECT_EQ(hostgroup_add(group, hosts[0]), 64);
    EXPECT_EQ(hostgroup_add(group, hosts[63]), 64);
    EXPECT_EQ(group->capacity(), 64u);

    EXPECT_EQ(hostgroup_add(group, hosts[64]), 65);
    EXPECT_EQ(group->capacity(), 128u);
    for (int i = 65; i < 128; ++i)
        ASSERT_EQ(hostgroup_add(group, hosts[i]), i + 1);
    EXPECT_EQ(group->capacity(), 128u);
    EXPECT_EQ(hostgroup_add(group, hosts[128]), 129);
    EXPECT_EQ(group->capacity(), 192u);
    EXPECT_EQ(hostgroup_add(group, hosts[100]), 129);

    ASSERT_EQ(group->count(), 129u);
    for (std::size_t i = 0; i < group->count(); ++i)
        EXPECT_EQ(group->members[i], hosts[i]) << "member " << i;
    EXPECT_EQ(registry.all_group->count(), 0u);
}

TEST_F(RegistryTest, HostSetVia) {
    ASSERT_EQ(startup_records(), 0);
    Gateway* office = gateway_get("office");
    Gateway* lab = gateway_get("lab");
    Host* pc = host_get("00:11:22:33:44:55");
    ASSERT_NE(pc, nullptr);

    EXPECT_EQ(host_set_via(pc, "office"), 0);
    EXPECT_EQ(pc->gateway, office);
    EXPECT_EQ(member_names(*hostgroup_find("office")), Names{"00:11:22:33:44:55"});
    EXPECT_EQ(host_set_via(pc, "office"), 0);
    EXPECT_EQ(hostgroup_find("office")->count(), 1u);

    // A second gateway: the host stays in the first one's group too.
    EXPECT_EQ(host_set_via(pc, "lab"), 0);
    EXPECT_EQ(pc->gateway, lab);
    EXPECT_EQ(hostgroup_find("office")->count(), 1u);
    EXPECT_EQ(hostgroup_find("lab")->count(), 1u);

    errno = EPERM;
    EXPECT_EQ(host_set_via(pc, nullptr), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(pc->gateway, lab);

    errno = 0;
    EXPECT_EQ(host_set_via(pc, "nowhere"), -1);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(pc->gateway, nullptr);
    EXPECT_EQ(hostgroup_find("nowhere"), nullptr);
    EXPECT_EQ(hostgroup_find("lab")->count(), 1u);

    // "default" is a gateway like any other, and brought its group with it.
    EXPECT_EQ(host_set_via(pc, "default"), 0);
    EXPECT_EQ(pc->gateway, registry.default_gateway);
    EXPECT_EQ(member_names(*hostgroup_find("default")), Names{"00:11:22:33:44:55"});
}

TEST_F(RegistryTest, RenamedGatewayKeepsItsGroupUnderTheOldName) {
    ASSERT_EQ(startup_records(), 0);
    Gateway* office = gateway_get("office");
    ASSERT_NE(office, nullptr);
    HostGroup* office_group = hostgroup_find("office");
    ASSERT_EQ(gateway_set_name(*office, "lab"), 0);

    EXPECT_EQ(gateway_find("lab"), office);
    errno = 0;
    EXPECT_EQ(gateway_find("office"), nullptr);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(hostgroup_find("office"), office_group);
    EXPECT_EQ(hostgroup_find("lab"), nullptr);

    Host* pc = host_get("00:11:22:33:44:55");
    errno = 0;
    EXPECT_EQ(host_set_via(pc, "lab"), 0);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(pc->gateway, office);
    EXPECT_EQ(office_group->count(), 0u);
    EXPECT_EQ(group_names(), (Names{"default", "all", "office"}));

    // gateway_get of the new name finds the renamed gateway; of the old name makes a new one,
    // which shares the old group.
    EXPECT_EQ(gateway_get("lab"), office);
    Gateway* second = gateway_get("office");
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, office);
    EXPECT_EQ(registry.gateways.size(), 3u);
    EXPECT_EQ(group_names(), (Names{"default", "all", "office"}));
    EXPECT_EQ(host_set_via(pc, "office"), 0);
    EXPECT_EQ(pc->gateway, second);
    EXPECT_EQ(member_names(*office_group), Names{"00:11:22:33:44:55"});
}

TEST_F(RegistryTest, RenameToAnExistingNameLeavesTheEarlierRecordFirst) {
    ASSERT_EQ(startup_records(), 0);
    Gateway* office = gateway_get("office");
    Gateway* lab = gateway_get("lab");
    ASSERT_EQ(gateway_set_name(*lab, "office"), 0);
    EXPECT_EQ(gateway_find("office"), office);
    EXPECT_EQ(gateway_get("office"), office);
    EXPECT_EQ(gateway_find("lab"), nullptr);
    Host* pc = host_get("pc");
    EXPECT_EQ(host_set_via(pc, "office"), 0);
    EXPECT_EQ(pc->gateway, office);

    // Renaming the earlier one lets the later one be found.
    ASSERT_EQ(gateway_set_name(*office, "elsewhere"), 0);
    EXPECT_EQ(gateway_find("office"), lab);
    EXPECT_EQ(gateway_find("elsewhere"), office);

    // The same for hosts.
    Host* one = host_get("one");
    Host* two = host_get("two");
    ASSERT_EQ(host_set_name(*two, "one"), 0);
    EXPECT_EQ(host_find("one"), one);
    EXPECT_EQ(host_get("one"), one);
    EXPECT_EQ(host_find("two"), nullptr);
    ASSERT_EQ(host_set_name(*one, "uno"), 0);
    EXPECT_EQ(host_find("one"), two);
    EXPECT_EQ(host_find("uno"), one);
    EXPECT_EQ(registry.hosts.size(), 3u);
}

TEST_F(RegistryTest, RenamedDefaultGateway) {
    ASSERT_EQ(startup_records(), 0);
    ASSERT_EQ(gateway_set_name(*registry.default_gateway, "main"), 0);
    EXPECT_EQ(gateway_find("default"), nullptr);
    EXPECT_EQ(gateway_find("main"), registry.default_gateway);
    EXPECT_NE(hostgroup_find("default"), nullptr);
}

TEST_F(RegistryTest, TargetPushPutsTheNewestFirst) {
    Gateway* gateway = gateway_get("office");
    ASSERT_NE(gateway, nullptr);
    addrinfo a{}, b{}, c{};
    Target* pushed_a = target_push(gateway, &a);
    ASSERT_NE(pushed_a, nullptr);
    EXPECT_EQ(pushed_a->entry, &a);
    EXPECT_EQ(pushed_a->socket, -1);
    ASSERT_NE(target_push(gateway, &b), nullptr);
    Target* pushed_c = target_push(gateway, &c);
    ASSERT_NE(pushed_c, nullptr);
    EXPECT_EQ(pushed_c, &gateway->targets.front());

    ASSERT_EQ(gateway->targets.size(), 3u);
    const addrinfo* expected[] = {&c, &b, &a};
    std::size_t i = 0;
    for (const Target& target : gateway->targets) {
        EXPECT_EQ(target.entry, expected[i]) << "target " << i;
        EXPECT_EQ(target.socket, -1);
        ++i;
    }
    // The first target pushed has not moved.
    EXPECT_EQ(pushed_a, &gateway->targets.back());
    EXPECT_EQ(pushed_a->entry, &a);
}

TEST_F(RegistryTest, RecordsStayWhereTheyAre) {
    ASSERT_EQ(startup_records(), 0);
    Gateway* first_gateway = registry.default_gateway;
    HostGroup* first_group = registry.all_group;
    Host* first_host = host_get("first");
    for (int i = 0; i < 1000; ++i) {
        const std::string name = "record" + std::to_string(i);
        ASSERT_NE(gateway_get(name.c_str()), nullptr);
        ASSERT_NE(host_get(name.c_str()), nullptr);
    }
    EXPECT_EQ(gateway_find("default"), first_gateway);
    EXPECT_EQ(hostgroup_find("all"), first_group);
    EXPECT_EQ(host_find("first"), first_host);
    EXPECT_EQ(first_host->name, "first");
    EXPECT_EQ(gateway_find("record999"), &registry.gateways.back());
    EXPECT_EQ(hostgroup_find("record500")->name, "record500");
}

}  // namespace
